// The installer's final words, in one place: the texts and captions of its last message box,
// the same for the window and for "dravo install".
#pragma once

namespace install {

inline constexpr char kCompletedText[] = "Dravo patch completed.";
inline constexpr char kCompletedCaption[] = "My congratulations!";
inline constexpr char kNotFoundText[] = "Dravo not found.";
inline constexpr char kNotFoundCaption[] = "Patch search error.";
inline constexpr char kAlreadyInstalledText[] = "This patch is already installed.";
inline constexpr char kFailedCaption[] = "Patch install error.";
inline constexpr char kDidNotCompleteText[] = "The Dravo patch did not complete. These work items failed:";
inline constexpr char kCannotBeDoneText[] = "The Dravo patch was not installed. These work items cannot be done:";
inline constexpr char kRecoveredCaption[] = "Dravo patch recovery";

// The advice that ends a failure box whose cause the player can remove.
inline constexpr char kDownloadAgainText[] = "Download the patch again.";

// Taking an install back from the installer (its /UNDO switch).
inline constexpr char kUndoCaption[] = "Dravo patch";
inline constexpr char kUndoneText[] = "The Dravo patch was taken back. The game is as it was before.";
inline constexpr char kUndoFailedCaption[] = "Patch undo error.";

}  // namespace install

// The container file's header and directory, the one place they are decoded and encoded.
//
// A container is a 26344-byte header with a directory of 500 entries, then member data.
//
//   offset  size   field
//        0    17   signature "XFile V1.0 DS:SI" and NUL (written on create, never checked)
//       17     3   version tag: zeros, or "02" after a member replacement
//       20   300   path when loaded              (run-time, written as zero)
//      320     4   OS file handle                (run-time, zero)
//      324     4   reserved
//      328     4   file size when loaded         (run-time, zero)
//      332     4   cached OS position            (run-time, zero)
//      336     2   members created since load    (run-time, zero)
//      338     2   reserved
//      340     4   next loaded container         (run-time, zero)
//      344 26000   500 directory entries of 52 bytes:
//                    0 20 name (first byte 0: free)   32 4 size       40 4 data offset
//                   46  2 attribute (2: made by the installer; a free entry with 2 is busy)
//                  the other fields (20..31, 36..39, 44..45, 48..51) are run-time, zero.
//
// All numbers are little-endian. An entry's data is usable only when it lies in the file
// behind the header (entry_inside_file).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

constexpr int kContainerMembers = 500;
constexpr int kContainerHeaderSize = 26344;
constexpr int kContainerEntrySize = 52;
constexpr int kContainerDirectoryOffset = 344;
inline constexpr char kContainerSignature[] = "XFile V1.0 DS:SI";

namespace container_format {

// The header's fields.
constexpr std::size_t kSignatureOffset = 0;
constexpr std::size_t kSignatureBytes = 17;
constexpr std::size_t kTagOffset = 17;
constexpr std::size_t kTagBytes = 3;
constexpr std::size_t kReserved1Offset = 324;
constexpr std::size_t kReserved2Offset = 338;

// A directory entry's fields.
constexpr std::size_t kEntryNameOffset = 0;
constexpr std::size_t kEntryNameBytes = 20;
constexpr std::size_t kEntrySizeOffset = 32;
constexpr std::size_t kEntryDataOffset = 40;
constexpr std::size_t kEntryAttributeOffset = 46;

// The tag a replacement stamps; a container with a greater tag was made by a newer kit.
inline constexpr char kReplacedTag[kTagBytes] = {'0', '2', 0};

using EntryBytes = std::span<std::uint8_t, kContainerEntrySize>;
using ConstEntryBytes = std::span<const std::uint8_t, kContainerEntrySize>;

// The stored fields of one directory entry. The name is kept as its 20 bytes, so that a name
// without an end can be told from one of 19 characters.
struct ContainerEntry {
    std::array<char, kEntryNameBytes> name{};
    std::int32_t size = 0;
    std::int32_t offset = 0;
    std::uint16_t attribute = 0;

    bool used() const { return name[0] != 0; }
    // The name up to its NUL, or all 20 bytes when it has none.
    std::string_view name_text() const;
    bool name_terminated() const;
    // Sets the name, cut at 19 characters, the rest zero.
    void set_name(std::string_view text);
};

ContainerEntry decode_entry(ConstEntryBytes bytes);
// Writes the stored fields; the run-time fields between them become zero.
void encode_entry(const ContainerEntry& entry, EntryBytes bytes);

// Whether data of `size` bytes at `offset` lies in a file of `file_size` bytes, behind the
// header. In 64 bits, so that an offset near the 32-bit limit cannot wrap.
bool entry_inside_file(std::int64_t offset, std::int64_t size, std::int64_t file_size);

// A header image, kept whole: what is not edited through it is written back as it was read.
class ContainerHeader {
public:
    // A new container's header: the signature, the rest zero.
    ContainerHeader();

    // Empty when `bytes` is not exactly one header.
    static std::optional<ContainerHeader> decode(std::span<const std::uint8_t> bytes);
    // False, writing nothing, when `out` is not exactly one header.
    bool encode(std::span<std::uint8_t> out) const;
    std::span<const std::uint8_t, kContainerHeaderSize> bytes() const { return image_; }

    std::array<char, kSignatureBytes> signature() const;
    void set_signature(const std::array<char, kSignatureBytes>& signature);
    std::array<char, kTagBytes> tag_bytes() const;
    void set_tag_bytes(const std::array<char, kTagBytes>& tag);
    // The tag up to its NUL; empty in a container never rewritten.
    std::string tag() const;
    // Whether the tag sorts after the one a replacement stamps (a newer kit's container).
    bool tag_newer_than_replaced() const;
    void stamp_replaced();
    std::uint32_t reserved1() const;
    void set_reserved1(std::uint32_t v);
    std::uint16_t reserved2() const;
    void set_reserved2(std::uint16_t v);

    ContainerEntry entry(int index) const;
    void set_entry(int index, const ContainerEntry& entry);
    // The used entry whose name, terminated within its 20 bytes, equals `name`; -1 if none.
    int find_member(std::string_view name) const;
    // Gives member `index` `new_size` bytes and moves by the difference every other entry
    // whose data starts at or behind the end of the member's old data. Comparing with the end
    // rather than the start keeps an entry that shares the start offset of an empty member
    // pointing at its own data. Offsets are stored modulo 2^32, as 32-bit fields wrap.
    void resize_member(int index, std::int32_t new_size);

private:
    EntryBytes entry_bytes(int index);
    ConstEntryBytes entry_bytes(int index) const;

    std::array<std::uint8_t, kContainerHeaderSize> image_{};
};

}  // namespace container_format

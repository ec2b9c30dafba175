// The proof of a made patch: it is installed into a view of OLD with the installer's own flow
// (a dry run: OLD is not changed), and what the install would leave is compared with NEW.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "authoring/patch_maker.h"

namespace authoring {

struct ProofResult {
    bool installed = false;         // the install would complete
    std::string install_text;       // the installer's last words
    std::vector<std::string> lines; // the comparison, a line each
    int same = 0, differ = 0;
    bool proven() const { return installed && differ == 0; }
};

// `region` and `digest_area`: the patch as the installer carries it (a copy; unpacking may
// change it).
ProofResult prove_patch(const GamePair& pair, const PatchPlan& plan, std::span<std::uint8_t> region,
                        std::span<const std::uint8_t> digest_area);

}  // namespace authoring

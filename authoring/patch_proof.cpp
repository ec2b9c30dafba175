#include "authoring/patch_proof.h"

#include "base/report.h"
#include "install/main_flow.h"
#include "install/patch_sources.h"
#include "platform/platform.h"

namespace authoring {

namespace {

// Nothing of the proof's install is shown: it is reported as the comparison.
class QuietFace final : public install::InstallerFace {
public:
    void show_phase(install::Phase) override {}
    bool confirm() override { return true; }
    void final_message(const std::string& text, const std::string&) override { last = text; }
    void notice(const std::string&) override {}
    std::string last;
};

class QuietSink final : public report::Sink {
public:
    void error_box(const char* text, const char*) override { boxes += text; }
    void progress_text(const char*) override {}
    std::string boxes;
};

class Comparison {
public:
    Comparison(const GamePair& pair, ProofResult& result) : pair_(pair), result_(result) {}

    void member(const std::string& name) {
        const GameName* in_old = pair_.old_game.find(name);
        const GameName* in_new = pair_.new_game.find(name);
        if (!in_old || !in_new) return note(false, "member " + name, "not a logical name of both games");
        bytes("member " + name, locate(pair_.old_game, *in_old), locate(pair_.new_game, *in_new));
    }
    void file(const std::string& rel) {
        bytes("file " + rel, NameData{false, pair_.old_game.folder + rel, ""},
              NameData{false, pair_.new_game.folder + rel, ""});
    }
    // Every message of NEW, and no other, with the same record fields but first_string and
    // the same strings.
    void messages() {
        MessageTables view;
        if (Result r = read_message_tables(pair_.old_game.folder, &view); r.failed() || !view.present)
            return note(false, "message tables", r.failed() ? r.problem : "missing");
        const MessageTables& want = pair_.new_messages;
        int top = std::max(view.highest(), want.highest());
        int same = 0;
        for (int k = 1; k <= top; ++k) {
            bool here = view.valid(k), there = want.valid(k);
            if (!here && !there) continue;
            if (here != there || view.message_bytes(k) != want.message_bytes(k)) {
                note(false, "message " + std::to_string(k), here ? (there ? "record or strings differ" : "not in NEW")
                                                                  : "missing");
                continue;
            }
            ++same;
        }
        result_.same += same;
        result_.lines.push_back("same: " + std::to_string(same) + " messages");
    }

private:
    void bytes(const std::string& what, const NameData& patched, const NameData& wanted) {
        std::vector<std::uint8_t> a, b;
        if (Result r = read_name_data(patched, &a); r.failed()) return note(false, what, r.problem);
        if (Result r = read_name_data(wanted, &b); r.failed()) return note(false, what, r.problem);
        if (a != b) return note(false, what, std::to_string(a.size()) + " bytes, NEW has " + std::to_string(b.size()));
        note(true, what, std::to_string(a.size()) + " bytes");
    }
    void note(bool same, const std::string& what, const std::string& detail) {
        (same ? result_.same : result_.differ)++;
        result_.lines.push_back(std::string(same ? "same: " : "DIFFERS: ") + what + " (" + detail + ")");
    }

    const GamePair& pair_;
    ProofResult& result_;
};

}  // namespace

ProofResult prove_patch(const GamePair& pair, const PatchPlan& plan, std::span<std::uint8_t> region,
                        std::span<const std::uint8_t> digest_area) {
    ProofResult result;
    QuietFace face;
    QuietSink sink;
    report::set_sink(&sink);
    install::InstallSources sources =
        install::patch_sources_for(pair.old_game.folder, install::CarriedPatch{region, digest_area});
    Comparison compare(pair, result);
    install::DryRunResult dry = install::try_installation(face, sources, [&] {
        for (const std::string& m : plan.covered_members) compare.member(m);
        for (const std::string& f : plan.covered_files) compare.file(f);
        if (plan.message_items) compare.messages();
    });
    report::set_sink(nullptr);
    result.installed = dry.install.outcome == install::InstallOutcome::Completed;
    result.install_text = face.last.empty() ? dry.install.text : face.last;
    if (!sink.boxes.empty() && !result.installed) result.install_text += "\n" + sink.boxes;
    return result;
}

}  // namespace authoring

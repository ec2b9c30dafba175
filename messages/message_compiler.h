// The message compiler: reads a message source line by line and writes one index record per
// message and the message's strings. The compiler proper works on pieces of text and two
// outputs, so that the installer compiles the game's files and the tool, the tests and the
// decompiler's own check compile in memory with the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/result.h"
#include "messages/message_header.h"
#include "messages/message_tables.h"
#include "messages/message_writer.h"
#include "messages/source_line.h"

namespace messages {

// Where the compiler's records and strings go.
class TableOutput : public StringSink {
public:
    // Places a record at number * 180, the gap before it filled with zero bytes.
    virtual bool put_record(std::uint16_t number, const std::uint8_t* record) = 0;
};

// Told of every message whose strings do not fit its pages, and of what the compiler drops
// or changes in silence: the tables stay as they are, the source's author learns why.
class CompileObserver {
public:
    virtual ~CompileObserver() = default;
    // `line` is the source line of the message's header, counted from 1.
    virtual void long_message(int number, int string_count, long line) = 0;
    // A warning about source line `line` (counted from 1), in words.
    virtual void warning(long line, const std::string& text) { (void)line, (void)text; }
    // Message `number`, whose header is on source line `line`, was written with its strings
    // from `first_string` on: where each message of the tables comes from in the source.
    virtual void message_written(int number, std::uint32_t first_string, long line) {
        (void)number, (void)first_string, (void)line;
    }
};

class Compiler {
public:
    Compiler(TableOutput& out, CompileObserver* observer) : out_(out), observer_(observer) {}
    // One piece of a source line as fgets gives it: at most 249 characters, ending at the line
    // feed if the line ended within it. False once a write has failed.
    bool feed(const char* piece);
    // The end of the source: warns of text that no header line closed.
    void finish();
    bool ok() const { return ok_; }

private:
    void start_message();
    void write_current(int line_mode);
    void warn(long line, const std::string& text);
    void note_header(const HeaderNotes& notes);

    TableOutput& out_;
    CompileObserver* observer_;
    IndexRecord record_;
    MessageText text_;
    TreatedLine line_;
    int language_ = 1;
    bool raw_ = false;
    std::uint32_t running_count_ = 0;
    long line_number_ = 1;
    long header_line_ = 0;
    bool ok_ = true;
    bool seen_header_ = false;
    bool text_before_header_ = false;  // warned of already
    bool dropped_line_ = false;        // in the current message, warned of already
    long text_line_ = 0;               // the last text line of the current message
    std::map<int, long> defined_;      // message numbers written so far, and their header lines
};

// Splits a source held in memory into the pieces fgets would give for it, and feeds them.
void feed_source(Compiler& compiler, const char* source, std::size_t size);

// Tables built in memory.
struct MemoryTables {
    std::vector<std::uint8_t> dat;
    std::vector<std::uint8_t> str;
};

class MemoryOutput final : public TableOutput {
public:
    explicit MemoryOutput(MemoryTables& tables) : tables_(tables) {}
    bool put_string(const std::uint8_t* record) override;
    bool put_record(std::uint16_t number, const std::uint8_t* record) override;

private:
    MemoryTables& tables_;
};

// Compiles a source held in memory. Never fails: memory tables take every write.
MemoryTables compile_in_memory(const std::string& source, CompileObserver* observer = nullptr);

// What a compile of the game's files did. A failure names the file it concerns (in the
// core's form), so that a face can put it in front of the words.
struct CompileResult : Result {
    std::string file;
    // Whether the source was opened: from then on a failure has thrown new tables away, and
    // the old ones are left as they were.
    bool source_opened = false;
};

// The installer's compile: the HD directory's message.txt into its message.dat and
// message.str, the long messages into "Message.err" in the current directory (deleted when
// it stays empty). The tables are written next to the old ones under scratch names and put
// in their place only when the whole source compiled and both were flushed, so a failure
// leaves the old tables as they were; a read-only table is refused.
CompileResult compile_messages(CompileObserver* observer = nullptr);
// The same compile of a source held in memory (a patch's new source, read through the file
// the install holds), into the HD directory's tables; no message.txt is read or written.
// A failure names message.txt as the source's place, since the tables are built for it.
CompileResult compile_messages_from(const std::string& source, CompileObserver* observer = nullptr);

}  // namespace messages

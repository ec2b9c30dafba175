// The translators' PO files: the reader against what gettext's tools write, the code pages of
// both systems, and the round trip export -> (translate) -> import -> compile over generated
// message sources.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decompiler/message_source.h"
#include "messages/message_compiler.h"
#include "tests/message_fixtures.h"
#include "tests/source_generator.h"
#include "tests/test_support.h"
#include "translation/code_page_text.h"
#include "translation/po_export.h"
#include "translation/po_file.h"
#include "translation/po_import.h"

using namespace translation;
using testing_support::message_strings;
using testing_support::record_of;

namespace {

std::string export_of(const messages::MemoryTables& t, ExportOptions options = {}) {
    std::string po;
    Result r = export_po(decompiler::decompile_messages(t.dat, t.str), options, &po);
    EXPECT_FALSE(r.failed()) << r.problem;
    return po;
}

ImportResult import_into(const messages::MemoryTables& t, const std::string& po, ImportOptions options = {}) {
    return import_po(decompiler::decompile_messages(t.dat, t.str), po, options);
}

std::string diagnostics_of(const ImportResult& r) {
    std::string s;
    for (const diag::Diagnostic& d : r.diagnostics)
        s += std::to_string(d.line) + (d.severity == diag::Severity::Error ? ": error: " : ": warning: ") + d.text + "\n";
    return s;
}

// Sets the msgstr of the entry with context `context`.
std::string translated(std::string po, const std::string& context, const std::string& msgstr) {
    std::string key = "msgctxt \"" + context + "\"\n";
    std::size_t at = po.find(key);
    EXPECT_NE(at, std::string::npos) << context;
    std::size_t str = po.find("msgstr \"\"\n", at);
    return po.replace(str, 10, po_string("msgstr", msgstr));
}

// A message's strings as one text with single blanks: what the translation's words become.
std::string words_of(const std::vector<std::string>& strings) {
    std::string all, out;
    for (const std::string& s : strings) all += s + " ";
    for (char c : all) {
        if (c == ' ' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

TEST(PoFile, ReadsWhatGettextToolsWrite) {
    const std::string po =
        "\xEF\xBB\xBF# translator's comment\r\n"
        "msgid \"\"\r\n"
        "msgstr \"\"\r\n"
        "\"Content-Type: text/plain; charset=UTF-8\\n\"\r\n"
        "\r\n"
        "#. header: #5 0 0 0 0 40 2 0\n"
        "#: message.txt:12\n"
        "#, fuzzy, no-c-format\n"
        "#| msgid \"old\"\n"
        "msgctxt \"5\"\n"
        "msgid \"\"\n"
        "\"first \\\"line\\\"\\n\"\n"
        "\"a\\\\b\\t\\101\\x42\"\n"
        "msgstr \"erste\"\n"
        "\"n Zeile\"\n"
        "\n"
        "#~ msgctxt \"9\"\n"
        "#~ msgid \"gone\"\n"
        "#~ msgstr \"weg\"\n"
        "msgctxt \"6\"\n"
        "msgid \"x\"\n"
        "msgstr \"y\"\n";
    std::vector<diag::Diagnostic> problems;
    std::vector<PoEntry> entries = read_po(po, problems);
    ASSERT_TRUE(problems.empty()) << problems[0].line << ": " << problems[0].text;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[0].has_context);
    EXPECT_EQ(header_field(entries[0].str, "content-type"), "text/plain; charset=UTF-8");
    const PoEntry& e = entries[1];
    EXPECT_TRUE(e.fuzzy);
    EXPECT_EQ(e.context, "5");
    EXPECT_EQ(e.id, "first \"line\"\na\\b\tAB");
    EXPECT_EQ(e.str, "ersten Zeile");
    EXPECT_EQ(e.extracted, std::vector<std::string>{"header: #5 0 0 0 0 40 2 0"});
    EXPECT_EQ(e.line, 10);
    EXPECT_EQ(e.str_line, 14);
    EXPECT_EQ(entries[2].context, "6");
    EXPECT_FALSE(entries[2].fuzzy);
}

TEST(PoFile, BrokenEntriesAreReportedAtTheirLinesAndTheRestIsRead) {
    const std::string po =
        "msgctxt \"1\"\nmsgid \"unterminated\nmsgstr \"\"\n\n"       // 1
        "msgctxt \"2\"\nmsgid \"a\"\nmsgstr \"bad \\q escape\"\n\n"  // 5
        "msgctxt \"3\"\nmsgstr \"no id\"\n\n"                        // 9
        "msgcontext \"4\"\n\n"                                      // 12
        "msgctxt \"5\"\nmsgid \"fine\"\nmsgstr \"gut\"\n\n"          // 14
        "msgctxt \"6\"\nmsgid \"no str\"\n";                         // 18
    std::vector<diag::Diagnostic> problems;
    std::vector<PoEntry> entries = read_po(po, problems);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].context, "5");
    std::vector<long> lines;
    for (const diag::Diagnostic& d : problems) lines.push_back(d.line);
    EXPECT_EQ(lines, (std::vector<long>{2, 7, 10, 12, 18})) << problems.size();
}

TEST(PoFile, WrittenStringsReadBackTheSame) {
    const std::string values[] = {"", "plain", "a \"quoted\" \\ backslash", "two\nlines", "ends in a feed\n",
                                  "\x01\x1f\x7f tab\there", "\n\nleading feeds", "\xc3\xa9t\xc3\xa9"};
    std::string po;
    for (std::size_t i = 0; i < std::size(values); ++i)
        po += po_string("msgctxt", std::to_string(i)) + po_string("msgid", values[i]) + po_string("msgstr", values[i]) + "\n";
    std::vector<diag::Diagnostic> problems;
    std::vector<PoEntry> entries = read_po(po, problems);
    ASSERT_TRUE(problems.empty());
    ASSERT_EQ(entries.size(), std::size(values));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].id, values[i]);
        EXPECT_EQ(entries[i].str, values[i]);
    }
}

TEST(CodePages, EveryByteComesBackAndBytesWithoutACharacterKeepTheirValue) {
    for (int number : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        auto page = CodePageText::load(number);
        ASSERT_TRUE(page) << number;
        std::string all;
        for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
        std::string back;
        Result r = page->from_utf8(page->to_utf8(all), &back);
        ASSERT_FALSE(r.failed()) << number << ": " << r.problem;
        EXPECT_EQ(back, all) << number;
    }
    auto cp1252 = CodePageText::load(1252), cp1251 = CodePageText::load(1251);
    EXPECT_EQ(cp1252->to_utf8("\x80\x81\xe9"), "\xe2\x82\xac\xc2\x81\xc3\xa9");  // euro, U+0081, e acute
    EXPECT_EQ(cp1251->to_utf8("\xc0\x98\xff"), "\xd0\x90\xc2\x98\xd1\x8f");      // Cyrillic A, U+0098, ya
    std::string out;
    Result r = cp1252->from_utf8("\xd0\x96", &out);  // Cyrillic zhe
    EXPECT_TRUE(r.failed());
    EXPECT_NE(r.problem.find("U+0416"), std::string::npos) << r.problem;
    EXPECT_TRUE(cp1252->from_utf8("\xc3", &out).failed());  // cut sequence
}

// The export of every byte in both default code pages, byte for byte as the golden file has
// it: the same test runs natively (iconv) and under Wine (MultiByteToWideChar).
TEST(PoExport, EveryByteGivesTheSameFileOnEverySystem) {
    std::string source = "##1 0 0 0 0 299 20 0\n";
    std::string rus;
    for (int b = 0x80; b < 0x100; b += 16) {
        std::string line;
        for (int k = 0; k < 16; ++k) line += static_cast<char>(b + k);
        source += line + "\n";
    }
    source += "x\x01\x02\x1b\x7fy\n#RUS\n";
    std::string after_rus = source.substr(source.find('\n') + 1, source.find("#RUS") - source.find('\n') - 1);
    source += "##2 0 0 0 0 299 20 0\n" + after_rus + "#0\n";
    std::string po = export_of(messages::compile_in_memory(source));
    std::string golden = testing_support::read_file(std::string(DRAVO_TEST_DATA) + "/all_bytes.po");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(po, golden);
}

// Export, import without a translation, compile: the decompiler's own source, and so the same
// tables wherever the decompiler gives them back.
TEST(PoRoundTrip, UntranslatedImportIsTheDecompiledSource) {
    for (std::uint32_t seed = 1; seed <= 600; ++seed) {
        std::string source = testing_support::SourceGenerator(seed, true).source();
        messages::MemoryTables first = messages::compile_in_memory(source);
        decompiler::DecompiledSource back = decompiler::decompile(first.dat, first.str);
        ImportResult r = import_into(first, export_of(first));
        ASSERT_FALSE(r.failed()) << "seed " << seed << "\n" << diagnostics_of(r);
        // The same source but for its first line, which names the command that wrote it.
        ASSERT_EQ(r.source.substr(0, r.source.find('\n')), "// Message source written by dravo msg import");
        ASSERT_EQ(r.source.substr(r.source.find('\n')), back.text.substr(back.text.find('\n'))) << "seed " << seed;
        if (!back.warnings.empty()) continue;
        messages::MemoryTables again = messages::compile_in_memory(r.source);
        ASSERT_TRUE(first.dat == again.dat && first.str == again.str) << "seed " << seed;
    }
}

// Every entry translated: each message of the compiled tables reads its translation.
TEST(PoRoundTrip, TranslatedEntriesCompileToTheirTranslations) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        messages::MemoryTables first = messages::compile_in_memory(testing_support::SourceGenerator(seed, true).source());
        decompiler::DecompiledMessages tables = decompiler::decompile_messages(first.dat, first.str);
        std::vector<std::string> contexts = message_contexts(tables.messages);
        std::string po = export_of(first);
        std::vector<std::string> expected;  // in the code page
        for (std::size_t i = 0; i < contexts.size(); ++i) {
            bool rus = tables.messages[i].record.language == 0;
            std::string letter = rus ? "\xd0\xb6" : "\xc3\xbc", byte = rus ? "\xe6" : "\xfc";  // zhe, u umlaut
            std::string text = letter, bytes = byte;
            for (char c : contexts[i]) text += std::string(" ") + c, bytes += std::string(" ") + c;
            po = translated(po, contexts[i], text + "\n" + letter);
            expected.push_back(bytes + " " + byte);
        }
        ImportResult r = import_into(first, po);
        ASSERT_FALSE(r.failed()) << "seed " << seed << "\n" << diagnostics_of(r);
        EXPECT_EQ(r.translated, static_cast<int>(contexts.size()));
        messages::MemoryTables again = messages::compile_in_memory(r.source);
        for (std::size_t i = 0; i < contexts.size(); ++i) {
            if (tables.messages[i].earlier_definition) continue;
            int number = tables.messages[i].record.number;
            EXPECT_EQ(words_of(message_strings(again, number)), expected[i]) << "seed " << seed << " message " << number;
        }
    }
}

messages::MemoryTables small_tables() {
    return messages::compile_in_memory(
        "#1 0 0 0 0 40 2 0\nHello.\n#2 0 0 0 0 40 2 0\nGold.\n##3 0 0 0 0 40 2 0\nraw line\n#0\n");
}

TEST(PoImport, FuzzyAndEmptyEntriesKeepTheOriginalText) {
    messages::MemoryTables t = small_tables();
    std::string po = translated(translated(export_of(t), "1", "Hallo."), "2", "Gold!");
    po.insert(po.find("msgctxt \"2\""), "#, fuzzy\n");
    ImportResult r = import_into(t, po);
    ASSERT_FALSE(r.failed()) << diagnostics_of(r);
    EXPECT_EQ(r.translated, 1);
    EXPECT_EQ(r.kept, 2);
    messages::MemoryTables again = messages::compile_in_memory(r.source);
    EXPECT_EQ(message_strings(again, 1), std::vector<std::string>{"Hallo."});
    EXPECT_EQ(message_strings(again, 2), std::vector<std::string>{"Gold."});
    EXPECT_EQ(message_strings(again, 3), std::vector<std::string>{"raw line"});
}

TEST(PoImport, ATranslationThatDropsThePointsLineIsWarnedOf) {
    messages::MemoryTables t = messages::compile_in_memory("#1 0 0 0 0 40 2 0 p5\n@points here\nHello.\n#0\n");
    ImportResult kept = import_into(t, translated(export_of(t), "1", "@points hier\nHallo."));
    EXPECT_EQ(diagnostics_of(kept), "");
    ImportResult lost = import_into(t, translated(export_of(t), "1", "Hallo."));
    ASSERT_FALSE(lost.failed());
    EXPECT_NE(diagnostics_of(lost).find("warning: message 1: the translation has no line that begins with \"@points\""),
              std::string::npos) << diagnostics_of(lost);
}

TEST(PoImport, TheHeaderInThePoWinsOverTheTables) {
    messages::MemoryTables t = small_tables();
    std::string po = export_of(t);
    std::size_t at = po.find("#. header: #2 0 0 0 0 40 1 0");
    ASSERT_NE(at, std::string::npos);
    po.replace(at, 28, "#. header: #2 7 0 0 0 20 2 0 -c\n#. section: #RUS\n#. closed by: #0 \\e");
    po = translated(po, "2", "\xd0\x96\xd0\xb8\xd0\xb2\xd0\xbe");  // Cyrillic, taken as Windows-1251
    ImportResult r = import_into(t, po);
    ASSERT_FALSE(r.failed()) << diagnostics_of(r);
    messages::MemoryTables again = messages::compile_in_memory(r.source);
    messages::IndexRecord rec = record_of(again.dat, 2);
    EXPECT_EQ(rec.hdr2, 7);
    EXPECT_EQ(rec.width, 20u);
    EXPECT_EQ(rec.language, 0);
    // The "#0 \e" line behind justifies the last string to the width, over the header's "-c".
    EXPECT_EQ(message_strings(again, 2), std::vector<std::string>{"\xc6\xe8\xe2\xee"});
    EXPECT_EQ(record_of(again.dat, 1).width, 40u);
}

TEST(PoImport, ProblemsAreReportedAtThePoLinesAndNothingIsMade) {
    messages::MemoryTables t = small_tables();
    std::string po = export_of(t);
    po = translated(po, "1", "\xd0\x96");     // no place in Windows-1252
    po = translated(po, "2", "ok\n  ...#3 oops");  // a line the compiler reads as a header
    po += "\nmsgctxt \"abc\"\nmsgid \"x\"\nmsgstr \"y\"\n";
    po += "\nmsgctxt \"77\"\nmsgid \"x\"\nmsgstr \"y\"\n";
    po += "\nmsgctxt \"3\"\nmsgid \"x\"\nmsgstr \"y\"\n";
    ImportResult r = import_into(t, po);
    EXPECT_TRUE(r.failed());
    EXPECT_TRUE(r.source.empty());
    std::string d = diagnostics_of(r);
    auto line_of = [&](const std::string& s) {
        std::size_t at = po.find(s);
        if (at == std::string::npos) return std::ptrdiff_t{-1};
        return 1 + std::count(po.begin(), po.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    };
    EXPECT_NE(d.find(std::to_string(line_of("msgstr \"\xd0\x96\"")) + ": error: message 1: the character"),
              std::string::npos) << d << po;
    EXPECT_NE(d.find("begins with '#'"), std::string::npos) << d;
    EXPECT_NE(d.find(std::to_string(line_of("msgctxt \"abc\"")) + ": error: unknown context \"abc\""), std::string::npos) << d;
    EXPECT_NE(d.find(std::to_string(line_of("msgctxt \"77\"")) + ": error: message 77 is not in the message tables"),
              std::string::npos) << d;
    EXPECT_NE(d.find("a second entry for message 3"), std::string::npos) << d;

    std::string latin1 = export_of(t);
    latin1.replace(latin1.find("charset=UTF-8"), 13, "charset=ISO-8859-1");
    ImportResult l = import_into(t, latin1);
    EXPECT_TRUE(l.failed());
    EXPECT_NE(diagnostics_of(l).find("the import reads UTF-8"), std::string::npos);
}

TEST(PoImport, LongTranslatedLinesAreCutWhereTheCompilerPutsTheSpaceBack) {
    messages::MemoryTables t = small_tables();
    // The same text as the compiler collects it from short lines: a line for each run of words
    // between single spaces (the compiler ends each line with one), but where a word that
    // must not begin a line follows.
    std::string words, short_lines;
    for (int i = 0; i < 120; ++i) {
        std::string word = i % 9 == 4 ? "#w" : "word";
        std::string gap = i == 0 ? "" : i % 7 == 0 ? "  " : " ";
        words += gap + word;
        short_lines += (gap == " " && word[0] != '#' ? "\n" : gap) + word;
    }
    ImportResult r = import_into(t, translated(export_of(t), "1", words));
    ASSERT_FALSE(r.failed()) << diagnostics_of(r);
    std::size_t longest = 0;
    for (std::size_t at = 0, end; at < r.source.size(); at = end + 1) {
        end = r.source.find('\n', at);
        longest = std::max(longest, end - at);
    }
    EXPECT_LE(longest, 248u);
    messages::MemoryTables again = messages::compile_in_memory(r.source);
    messages::MemoryTables whole = messages::compile_in_memory("#1 0 0 0 0 40 2 0\n" + short_lines + "\n#0\n");
    EXPECT_EQ(message_strings(again, 1), message_strings(whole, 1));

    std::string raw_line(300, 'r');
    ImportResult raw = import_into(t, translated(export_of(t), "3", raw_line));
    EXPECT_TRUE(raw.failed());
    EXPECT_NE(diagnostics_of(raw).find("a raw message keeps each line as written"), std::string::npos);
}

}  // namespace

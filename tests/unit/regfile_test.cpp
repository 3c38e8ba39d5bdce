// The registry tree and its REGEDIT4 text form.
#include "registry/RegFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

StoredValue Bytes(uint32_t type, std::string_view bytes)
{
    return StoredValue{type, std::vector<uint8_t>(bytes.begin(), bytes.end())};
}

StoredValue Text(std::string_view text)
{
    StoredValue v = Bytes(kRegSz, text);
    v.data.push_back(0);
    return v;
}

RegKeyNode& Key(RegModel& model, uint32_t root, std::vector<std::string> path)
{
    return *model.CreateKey(root, path).first;
}

// Parsing what was written gives the same tree, and writing that again gives the same text.
void ExpectRoundTrip(const RegModel& model)
{
    const std::string text = SerializeRegFile(model);
    const RegModel again = ParseRegFile(text);
    EXPECT_TRUE(again == model) << text;
    EXPECT_EQ(SerializeRegFile(again), text);
}

std::string ParseError(std::string_view text, std::size_t& line)
{
    try {
        ParseRegFile(text);
    } catch (const RegFileError& e) {
        line = e.Line();
        return e.Reason();
    }
    line = 0;
    return "(accepted)";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "line without CR LF";
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(RegFileWrite, ShortFormsEscapesAndLayout)
{
    RegModel model;
    RegKeyNode& app = Key(model, HKEY_CURRENT_USER_VALUE, {"Software", "Tarnwick"});
    app.SetValue("", Text("default"));
    app.SetValue("Path", Text("C:\\Games \"best\""));
    app.SetValue("Quote\"Back\\slash", Text(""));
    app.SetValue("Count", Bytes(kRegDword, std::string("\x1c\x00\x00\xab", 4)));
    app.SetValue("Blob", Bytes(kRegBinary, std::string("\x1c\x00\xff", 3)));
    app.SetValue("Expand", Bytes(kRegExpandSz, std::string("%\0", 2)));
    Key(model, HKEY_LOCAL_MACHINE_VALUE, {"Empty"});
    Key(model, HKEY_CLASSES_ROOT_VALUE, {".twk"});

    EXPECT_EQ(SerializeRegFile(model), "REGEDIT4\r\n\r\n"
                                       "[HKEY_CLASSES_ROOT]\r\n\r\n"
                                       "[HKEY_CLASSES_ROOT\\.twk]\r\n\r\n"
                                       "[HKEY_CURRENT_USER]\r\n\r\n"
                                       "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
                                       "[HKEY_CURRENT_USER\\Software\\Tarnwick]\r\n"
                                       "@=\"default\"\r\n"
                                       "\"Path\"=\"C:\\\\Games \\\"best\\\"\"\r\n"
                                       "\"Quote\\\"Back\\\\slash\"=\"\"\r\n"
                                       "\"Count\"=dword:ab00001c\r\n"
                                       "\"Blob\"=hex:1c,00,ff\r\n"
                                       "\"Expand\"=hex(2):25,00\r\n\r\n"
                                       "[HKEY_LOCAL_MACHINE]\r\n\r\n"
                                       "[HKEY_LOCAL_MACHINE\\Empty]\r\n\r\n");
    EXPECT_EQ(SerializeRegFile(RegModel()), "REGEDIT4\r\n\r\n");
}

TEST(RegFileWrite, KeysInInsertionOrderParentsFirst)
{
    RegModel model;
    Key(model, HKEY_CURRENT_USER_VALUE, {"Zeta", "Inner"});
    Key(model, HKEY_CURRENT_USER_VALUE, {"Alpha"});
    Key(model, HKEY_CURRENT_USER_VALUE, {"Zeta", "Another"});
    Key(model, HKEY_USERS_VALUE, {"S-1"});
    Key(model, HKEY_CURRENT_CONFIG_VALUE, {"Last"});
    std::vector<std::string> sections;
    for (const std::string& line : Lines(SerializeRegFile(model))) {
        if (!line.empty() && line.front() == '[')
            sections.push_back(line);
    }
    EXPECT_EQ(sections, (std::vector<std::string>{
                            "[HKEY_CURRENT_USER]", "[HKEY_CURRENT_USER\\Zeta]", "[HKEY_CURRENT_USER\\Zeta\\Inner]",
                            "[HKEY_CURRENT_USER\\Zeta\\Another]", "[HKEY_CURRENT_USER\\Alpha]", "[HKEY_USERS]",
                            "[HKEY_USERS\\S-1]", "[HKEY_CURRENT_CONFIG]", "[HKEY_CURRENT_CONFIG\\Last]"}));
}

TEST(RegFileWrite, EveryTypeAndOddDataRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    RegModel model;
    RegKeyNode& key = Key(model, HKEY_CURRENT_USER_VALUE, {"Types"});
    key.SetValue("none-empty", Bytes(kRegNone, ""));
    key.SetValue("none", Bytes(kRegNone, "ab"));
    key.SetValue("sz", Text("plain text with\ttab and \xe9\xff"));
    key.SetValue("sz-empty-string", Text(""));
    key.SetValue("sz-zero-length", Bytes(kRegSz, ""));
    key.SetValue("sz-no-terminator", Bytes(kRegSz, "abc"));
    key.SetValue("sz-two-terminators", Bytes(kRegSz, std::string("abc\0\0", 5)));
    key.SetValue("sz-inner-nul", Bytes(kRegSz, std::string("a\0b\0", 4)));
    key.SetValue("sz-newlines", Text("line1\r\nline2\n"));
    key.SetValue("sz-control", Text("bell\x07 del\x7f"));
    key.SetValue("expand", Bytes(kRegExpandSz, std::string("%TEMP%\0", 7)));
    key.SetValue("binary-all-bytes", Bytes(kRegBinary, all));
    key.SetValue("binary-empty", Bytes(kRegBinary, ""));
    key.SetValue("dword", Bytes(kRegDword, std::string("\x01\x02\x03\x04", 4)));
    key.SetValue("dword-short", Bytes(kRegDword, "\x01\x02\x03"));
    key.SetValue("dword-empty", Bytes(kRegDword, ""));
    key.SetValue("dword-long", Bytes(kRegDword, "12345"));
    key.SetValue("multi", Bytes(kRegMultiSz, std::string("a\0bc\0\0", 6)));
    key.SetValue("qword", Bytes(11, std::string("\0\0\0\0\0\0\0\x80", 8)));
    key.SetValue("huge-type", Bytes(0xFFFFFFFFu, "x"));
    key.SetValue("odd-name \"\\ \t;[x]=@", Text("v"));
    key.SetValue("", Bytes(kRegBinary, "\x01"));
    ExpectRoundTrip(model);

    const std::string text = SerializeRegFile(model);
    EXPECT_NE(text.find("\"sz-zero-length\"=hex(1):\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"sz-no-terminator\"=hex(1):61,62,63\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"dword-short\"=hex(4):01,02,03\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"binary-empty\"=hex:\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"none-empty\"=hex(0):\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"huge-type\"=hex(ffffffff):78\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"qword\"=hex(b):00,00,00,00,00,00,00,80\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"sz\"=\"plain text with\ttab and \xe9\xff\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("@=hex:01\r\n"), std::string::npos);
}

TEST(RegFileWrite, LongHexWrapsLikeRegedit)
{
    RegModel model;
    RegKeyNode& key = Key(model, HKEY_CURRENT_USER_VALUE, {"Wrap"});
    key.SetValue("Data", Bytes(kRegBinary, std::string(100, '\xab')));
    key.SetValue(std::string(100, 'n'), Bytes(kRegMultiSz, std::string(30, 'z')));
    ExpectRoundTrip(model);

    const std::vector<std::string> lines = Lines(SerializeRegFile(model));
    std::size_t dataLine = 0;
    while (dataLine < lines.size() && lines[dataLine].rfind("\"Data\"=hex:", 0) != 0)
        ++dataLine;
    ASSERT_LT(dataLine + 4, lines.size());
    // 22 bytes on the first line, 25 on each full continuation line, all within 80 columns.
    EXPECT_EQ(
        lines[dataLine], "\"Data\"=hex:" + [] {
            std::string s;
            for (int i = 0; i < 22; ++i)
                s += "ab,";
            return s + "\\";
        }());
    std::size_t bytes = 22;
    std::size_t i = dataLine + 1;
    for (; lines[i - 1].back() == '\\'; ++i) {
        EXPECT_EQ(lines[i].substr(0, 2), "  ");
        EXPECT_NE(lines[i][2], ' ');
        EXPECT_LE(lines[i].size(), 80u);
        const std::size_t onLine = (lines[i].size() - 2 + 1) / 3;
        if (lines[i].back() == '\\') {
            EXPECT_EQ(onLine, 25u) << lines[i];
        }
        bytes += onLine;
    }
    EXPECT_EQ(bytes, 100u);
    EXPECT_EQ(lines[i - 1].substr(lines[i - 1].size() - 3), ",ab");

    // A name too long for any byte to fit still puts the first byte beside it.
    const std::string longLine = "\"" + std::string(100, 'n') + "\"=hex(7):7a,\\";
    EXPECT_NE(std::find(lines.begin(), lines.end(), longLine), lines.end());
}

TEST(RegFileNames, CaseInsensitiveAndCasePreserving)
{
    RegModel model;
    RegKeyNode& key = Key(model, HKEY_CURRENT_USER_VALUE, {"Software", "MixedCase"});
    EXPECT_EQ(model.CreateKey(HKEY_CURRENT_USER_VALUE, {"SOFTWARE", "mixedcase"}).first, &key);
    EXPECT_FALSE(model.CreateKey(HKEY_CURRENT_USER_VALUE, {"software", "MIXEDCASE"}).second);
    EXPECT_EQ(key.Name(), "MixedCase");
    EXPECT_EQ(model.FindKey(HKEY_CURRENT_USER_VALUE, {"sOfTwArE"})->Name(), "Software");

    EXPECT_TRUE(key.SetValue("Title", Text("one")));
    EXPECT_TRUE(key.SetValue("TITLE", Text("two")));
    EXPECT_FALSE(key.SetValue("title", Text("two")));
    ASSERT_EQ(key.Values().size(), 1u);
    EXPECT_EQ(key.Values()[0].name, "Title");
    EXPECT_EQ(*key.FindValue("tItLe"), Text("two"));
    EXPECT_TRUE(key.DeleteValue("TiTlE"));
    EXPECT_FALSE(key.DeleteValue("Title"));

    // Windows-1252 letters fold; other bytes do not.
    EXPECT_EQ(FoldRegName("abz\xe9\xff\x9a\x9c\x9e\xfe"), "ABZ\xc9\x9f\x8a\x8c\x8e\xde");
    EXPECT_EQ(FoldRegName("\xf7\xdf\xb5\x7f[]"), "\xf7\xdf\xb5\x7f[]");
    key.SetValue("Caf\xe9", Text("x"));
    EXPECT_NE(key.FindValue("CAF\xc9"), nullptr);
    key.SetValue("\xd7", Text("times"));
    EXPECT_EQ(key.FindValue("\xf7"), nullptr);  // multiplication and division signs differ

    // Sections that differ only in case name one key, spelled as first seen.
    const RegModel parsed = ParseRegFile(
        "REGEDIT4\n\n[hkey_current_user\\Apps\\One]\n\"V\"=\"1\"\n[HKEY_CURRENT_USER\\APPS\\ONE]\n\"v\"=\"2\"\n");
    const RegKeyNode* one = parsed.FindKey(HKEY_CURRENT_USER_VALUE, {"apps", "one"});
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->Name(), "One");
    ASSERT_EQ(one->Values().size(), 1u);
    EXPECT_EQ(one->Values()[0].name, "V");
    EXPECT_EQ(one->Values()[0].value, Text("2"));
}

// The tree refuses what the file could not hold, so whatever it holds can be written and read back.
TEST(RegFileNames, TreeRefusesNamesTheFileCannotHold)
{
    RegModel model;
    RegKeyNode& root = *model.Root(HKEY_CURRENT_USER_VALUE);
    for (const std::string& bad : {std::string(), std::string("a\\b"), std::string("a\rb"), std::string("a\nb"),
                                   std::string("a\0b", 3), std::string(256, 'k')})
        EXPECT_THROW(root.AddChild(bad), std::invalid_argument) << bad;
    EXPECT_NO_THROW(root.AddChild(std::string(255, 'k')));
    for (const std::string& bad : {std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3)})
        EXPECT_THROW(root.SetValue(bad, Text("x")), std::invalid_argument);
    EXPECT_TRUE(root.Children().size() == 1 && root.Values().empty());

    const std::vector<std::string> deepest(kMaxKeyDepth, "k");
    RegKeyNode* last = model.CreateKey(HKEY_CURRENT_USER_VALUE, deepest).first;
    EXPECT_THROW(last->AddChild("one-too-many"), std::invalid_argument);
    EXPECT_EQ(model.Root(0x80000004u), nullptr);
    EXPECT_EQ(model.CreateKey(0x80000004u, {"x"}).first, nullptr);
}

TEST(RegFileRead, AcceptsWhatPeopleWrite)
{
    const std::string input = "REGEDIT4\n"
                              "; a comment\n"
                              "\n"
                              "  [HKEY_LOCAL_MACHINE\\Software\\Mine]   \n"
                              "\"Small\"=dword:1c\n"
                              "\"Upper\"=DWORD:ABCDEF01\n"
                              "\"Hex\" = hex:0A,b,\\\n"
                              "    FF\n"
                              "\"Typed\"=hex(B):\\\n"
                              "  01,02\n"
                              "\"\"=\"default via empty name\"\n"
                              "\"Dup\"=\"first\"\n"
                              "\"Dup\"=\"second\"\n"
                              "[HKEY_USERS\\.DEFAULT]\r\n"
                              "@=\"crlf\"\r\n";
    const RegModel model = ParseRegFile(input);
    const RegKeyNode* mine = model.FindKey(HKEY_LOCAL_MACHINE_VALUE, {"Software", "Mine"});
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(*mine->FindValue("Small"), Bytes(kRegDword, std::string("\x1c\0\0\0", 4)));
    EXPECT_EQ(*mine->FindValue("Upper"), Bytes(kRegDword, "\x01\xef\xcd\xab"));
    EXPECT_EQ(*mine->FindValue("Hex"), Bytes(kRegBinary, "\x0a\x0b\xff"));
    EXPECT_EQ(*mine->FindValue("Typed"), Bytes(11, "\x01\x02"));
    EXPECT_EQ(*mine->FindValue(""), Text("default via empty name"));
    EXPECT_EQ(*mine->FindValue("Dup"), Text("second"));
    EXPECT_EQ(*model.FindKey(HKEY_USERS_VALUE, {".DEFAULT"})->FindValue(""), Text("crlf"));
    EXPECT_NE(model.FindKey(HKEY_LOCAL_MACHINE_VALUE, {"Software"}), nullptr);  // implied ancestor

    // Fixed point: what we write from it reads back to the same tree and text.
    const std::string once = SerializeRegFile(model);
    EXPECT_TRUE(ParseRegFile(once) == model);
    EXPECT_EQ(SerializeRegFile(ParseRegFile(once)), once);
}

TEST(RegFileRead, RejectsWhatItDoesNotUnderstand)
{
    const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n";  // a bad 4th line follows
    struct Case {
        std::string text;
        std::size_t line;
        std::string reason;  // part of the message
    };
    const std::vector<Case> cases = {
        {"", 1, "header"},
        {"REGEDIT5\r\n", 1, "header"},
        {"Windows Registry Editor Version 5.00\r\n\r\n", 1, "header"},
        {"\n\nREGEDIT4\n", 1, "header"},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2, "before the first [key]"},
        {head + "[HKEY_CURRENT_USER\\B", 4, "']'"},
        {head + "[]", 4, "empty section"},
        {head + "[-HKEY_CURRENT_USER\\A]", 4, "deleting keys"},
        {head + "[HKEY_NOWHERE\\A]", 4, "unknown root key 'HKEY_NOWHERE'"},
        {head + "[HKCU\\A]", 4, "unknown root key"},
        {head + "[HKEY_CURRENT_USER\\A\\\\B]", 4, "empty key name"},
        {head + "[HKEY_CURRENT_USER\\A\\]", 4, "empty key name"},
        {head + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]", 4, "longer than 255"},
        {head + "\"x\"=-", 4, "deleting values"},
        {head + "@=-", 4, "deleting values"},
        {head + "\"x\"=\"a\\nb\"", 4, "bad escape '\\n'"},
        {head + "\"x\\q\"=\"a\"", 4, "bad escape"},
        {head + "\"x\"=\"a\\", 4, "bad escape"},
        {head + "\"x\"=\"abc", 4, "missing closing quote"},
        {head + "\"x=\"abc\"", 4, "expected '='"},
        {head + "\"x\"=\"a\" b", 4, "after the closing quote"},
        {head + "\"x\"", 4, "expected '='"},
        {head + "\"x\"=", 4, "missing value data"},
        {head + "\"x\"=str:\"a\"", 4, "unrecognised value data"},
        {head + "\"x\"=dword:", 4, "bad dword"},
        {head + "\"x\"=dword:123456789", 4, "bad dword"},
        {head + "\"x\"=dword:12g4", 4, "bad dword"},
        {head + "\"x\"=hex:0g", 4, "bad hex byte"},
        {head + "\"x\"=hex:123", 4, "bad hex byte '123'"},
        {head + "\"x\"=hex:01,", 4, "missing byte after ','"},
        {head + "\"x\"=hex:01,,02", 4, "missing byte before ','"},
        {head + "\"x\"=hex:,01", 4, "missing byte before ','"},
        {head + "\"x\"=hex:01 02", 4, "expected ','"},
        {head + "\"x\"=hex:01\\\n02", 4, "expected ','"},
        {head + "\"x\"=hex:01,\\ 02\n", 4, "after the continuation"},
        {head + "\"x\"=hex:01,\\\n  02,\\\n", 5, "past the end of the file"},
        {head + "\"x\"=hex:01,\\\n  zz", 5, "bad hex byte 'zz'"},
        {head + "\"x\"=hex:01,\\\n\n", 5, "missing byte"},
        {head + "\"x\"=hex(zz):01", 4, "bad value type"},
        {head + "\"x\"=hex(123456789):01", 4, "bad value type"},
        {head + "\"x\"=hex(1)01", 4, "expected ':'"},
        {head + "\"x\"=hex(1:01", 4, "bad value type"},
        {head + "Name=value", 4, "unrecognised line"},
        {head + "\"x\"=\"a\rb\"\n", 4, "carriage return"},
        {head + std::string("\"x\"=\"a\0b\"\n", 10), 4, "NUL"},
    };
    for (const Case& c : cases) {
        std::size_t line = 0;
        const std::string reason = ParseError(c.text, line);
        EXPECT_EQ(line, c.line) << c.text << " -> " << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.text << " -> " << reason;
    }

    // The message names the line.
    try {
        ParseRegFile(head + "\"x\"=hex:zz");
        ADD_FAILURE() << "accepted";
    } catch (const RegFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("line 4: ", 0), 0u) << e.what();
    }
}

TEST(RegFileRead, NestingLimit)
{
    std::string path = "HKEY_CURRENT_USER";
    for (std::size_t i = 0; i < kMaxKeyDepth; ++i)
        path += "\\k";
    const RegModel deepest = ParseRegFile("REGEDIT4\n\n[" + path + "]\n");
    EXPECT_NE(deepest.FindKey(HKEY_CURRENT_USER_VALUE, std::vector<std::string>(kMaxKeyDepth, "K")), nullptr);
    ExpectRoundTrip(deepest);
    std::size_t line = 0;
    EXPECT_NE(ParseError("REGEDIT4\n\n[" + path + "\\k]\n", line).find("deeper than 512"), std::string::npos);
    EXPECT_EQ(line, 3u);
}

// Random trees survive writing and reading; random damage to a written file is either rejected
// with RegFileError or read into a tree that is then a fixed point.
TEST(RegFileRead, RandomTreesAndDamagedText)
{
    std::mt19937 random(20240611);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::string alphabet = "aAbB\xe9\xc9\\\"[]@=;,: \t-\x01\x7f\xff";
    auto name = [&](bool key) {
        std::string s;
        const int length = (key ? 1 : 0) + pick(6);
        for (int i = 0; i < length; ++i) {
            char c = alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
            if (key && c == '\\')
                c = '_';
            s += c;
        }
        return s;
    };
    const std::vector<uint32_t> types = {kRegNone,   kRegSz,    kRegSz,      kRegExpandSz,
                                         kRegBinary, kRegDword, kRegMultiSz, 11};
    for (int round = 0; round < 200; ++round) {
        RegModel model;
        for (int k = 0; k < 6; ++k) {
            std::vector<std::string> path;
            for (int depth = pick(4); depth >= 0; --depth)
                path.push_back(name(true));
            RegKeyNode& key = Key(model, RegModel::kRoots[static_cast<std::size_t>(pick(5))], path);
            for (int v = pick(5); v > 0; --v) {
                StoredValue value{types[static_cast<std::size_t>(pick(static_cast<int>(types.size())))], {}};
                for (int b = pick(3) == 0 ? pick(90) : pick(6); b > 0; --b)
                    value.data.push_back(static_cast<uint8_t>(pick(3) == 0 ? 0 : pick(256)));
                if (value.type == kRegSz && pick(2) == 0)
                    value.data.push_back(0);
                key.SetValue(name(false), value);
            }
        }
        ExpectRoundTrip(model);

        std::string damaged = SerializeRegFile(model);
        for (int edits = 1 + pick(3); edits > 0; --edits) {
            const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(damaged.size())));
            switch (pick(3)) {
            case 0:
                damaged.erase(at, 1);
                break;
            case 1:
                damaged.insert(at, 1, alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))]);
                break;
            default:
                damaged.resize(at);
                break;
            }
        }
        try {
            const std::string once = SerializeRegFile(ParseRegFile(damaged));
            EXPECT_EQ(SerializeRegFile(ParseRegFile(once)), once);
        } catch (const RegFileError&) {
        }
    }
}

}  // namespace
}  // namespace tarnwick

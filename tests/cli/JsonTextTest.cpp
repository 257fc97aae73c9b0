// JSON as tarvik-flash writes and reads it: escaping, strict parsing, and the two agreeing.
#include <gtest/gtest.h>

#include <random>

#include "cli/JsonText.h"
#include "cli/JsonValue.h"

namespace tarvik::cli {
namespace {

TEST(JsonTextTest, QuotesBackslashesAndControlCharactersAreEscaped) {
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("Search Device..."), "\"Search Device...\"");
    EXPECT_EQ(JsonString("say \"U5U\" \\ done"), "\"say \\\"U5U\\\" \\\\ done\"");
    EXPECT_EQ(JsonString(std::string("a\x01\n\t\r\x1F\x7F", 7) + std::string(1, '\0') + "z"),
              "\"a\\u0001\\u000a\\u0009\\u000d\\u001f\\u007f\\u0000z\"");
    // Printable ASCII, '/' included, passes as it is.
    EXPECT_EQ(JsonString("/dev/ttyUSB0 ~!@#$%^&*()"), "\"/dev/ttyUSB0 ~!@#$%^&*()\"");
}

TEST(JsonTextTest, ValidUtf8PassesAndEveryInvalidByteBecomesOneReplacement) {
    // Two, three and four byte characters, the highest code point included.
    const std::string valid =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF";
    EXPECT_EQ(JsonString(valid), "\"" + valid + "\"");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xFF", "\\ufffd"},
        {"a\xC3", "a\\ufffd"},                                 // cut short at the end
        {"a\xC3(b", "a\\ufffd(b"},                             // a lead without its follower
        {"\xC0\xAF", "\\ufffd\\ufffd"},                        // overlong '/'
        {"\xE0\x80\xAF", "\\ufffd\\ufffd\\ufffd"},             // overlong, three bytes
        {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},             // a surrogate
        {"\xF4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // past U+10FFFF
        {"\x80x", "\\ufffdx"},                                 // a stray continuation byte
        {"\xE2\x82", "\\ufffd\\ufffd"},
    };
    for (const auto& [bytes, json] : cases) {
        EXPECT_EQ(JsonString(bytes), "\"" + json + "\"") << testing::PrintToString(bytes);
    }
}

TEST(JsonTextTest, WhatIsWrittenParsesBackWhateverTheBytes) {
    const auto roundTrip = [](const std::string& text) -> std::optional<std::string> {
        const auto value = ParseJson(JsonObject().AddString("text", text).Text());
        return value ? value->String("text") : std::nullopt;
    };
    std::mt19937 random(7);
    // Text made of valid characters, the awkward ones most of all, comes back as it was.
    const std::vector<std::string> pieces = {"a",
                                             "\"",
                                             "\\",
                                             "/",
                                             std::string(1, '\0'),
                                             "\x01",
                                             "\n",
                                             "\x1f",
                                             "\x7f",
                                             "\xC3\xBC",
                                             "\xE2\x82\xAC",
                                             "\xEF\xBF\xBD",
                                             "\xF0\x9D\x84\x9E",
                                             "\xF4\x8F\xBF\xBF"};
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (std::size_t n = random() % 12; n > 0; --n) {
            text += pieces[random() % pieces.size()];
        }
        EXPECT_EQ(roundTrip(text), text) << testing::PrintToString(text);
    }
    // Any bytes at all still make valid JSON, and what is read back is valid UTF-8 (so it
    // makes the same round unchanged).
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        const auto text = roundTrip(bytes);
        ASSERT_TRUE(text) << testing::PrintToString(bytes);
        EXPECT_EQ(roundTrip(*text), *text);
        // Bytes that never occur in UTF-8 never come back.
        EXPECT_EQ(text->find_first_of("\xC0\xC1\xF5\xF8\xFE\xFF"), std::string::npos);
    }
}

TEST(JsonTextTest, ObjectsKeepTheirMemberOrderAndNumberForms) {
    EXPECT_EQ(JsonObject()
                  .AddString("event", "result")
                  .AddInt("exit", 130)
                  .AddFixed("seconds", 12.345, 2)
                  .AddBool("failure", false)
                  .AddRaw("ports", "[1,2]")
                  .Text(),
              "{\"event\":\"result\",\"exit\":130,\"seconds\":12.35,\"failure\":false,"
              "\"ports\":[1,2]}");
    EXPECT_EQ(JsonObject().Text(), "{}");
}

TEST(JsonTextTest, TheParserTakesStrictJsonOnly) {
    for (const char* bad : {"",
                            " ",
                            "{",
                            "{\"a\":1,}",
                            "[1,]",
                            "{'a':1}",
                            "{\"a\" 1}",
                            "{\"a\":1} x",
                            "01",
                            "1.",
                            "-",
                            ".5",
                            "1e",
                            "+1",
                            "nul",
                            "True",
                            "\"\\x\"",
                            "\"\\u12\"",
                            "\"\\ud800\"",
                            "\"\\udc00\"",
                            "\"abc",
                            "{\"a\":\"\xFF\"}",
                            "[\"\xC0\xAF\"]"}) {
        EXPECT_FALSE(ParseJson(bad)) << testing::PrintToString(std::string(bad));
    }
    EXPECT_FALSE(ParseJson(std::string("\"a\x01\"")));  // a raw control character
    EXPECT_FALSE(ParseJson(std::string(100, '[') + std::string(100, ']')));  // too deep

    const auto value = ParseJson(
        " {\"ports\":[{\"port\":\"COM1\",\"ok\":true},{\"port\":\"usb\",\"ok\":null}],"
        "\"n\":-0.5e3,\"clef\":\"\\ud834\\udd1e\\/\\n\",\"e\":[]}\r\n");
    ASSERT_TRUE(value);
    ASSERT_EQ(value->kind, JsonValue::Kind::Object);
    const JsonValue* ports = value->Find("ports");
    ASSERT_TRUE(ports);
    ASSERT_EQ(ports->items.size(), 2u);
    EXPECT_EQ(ports->items[1].String("port"), "usb");
    EXPECT_TRUE(ports->items[0].Find("ok")->boolean);
    EXPECT_EQ(ports->items[1].Find("ok")->kind, JsonValue::Kind::Null);
    EXPECT_EQ(value->Number("n"), -500.0);
    EXPECT_EQ(value->String("clef"), "\xF0\x9D\x84\x9E/\n");
    EXPECT_TRUE(value->Find("e")->items.empty());
    EXPECT_FALSE(value->String("n"));  // a number is not a string
}

}  // namespace
}  // namespace tarvik::cli

// The browser side of the renderer: JSON, WebSocket frames, base64 and DevTools messages.
#include <gtest/gtest.h>

#include <string>

#include "base64.h"
#include "cdp.h"
#include "json.h"
#include "websocket.h"

namespace pagesnap {
namespace {

TEST(Json, ParsesWhatTheBrowserSends) {
    JsonValue v;
    ASSERT_TRUE(ParseJson(
        R"( {"id":7,"result":{"data":"iVBO","size":{"height":3000.5,"w":-1e2},"ok":true,"none":null,"list":[1,"x",[]]}} )",
        &v));
    EXPECT_EQ(v.Find("id")->AsNumber(), 7);
    EXPECT_EQ(v.Path({"result", "data"})->AsString(), "iVBO");
    EXPECT_EQ(v.Path({"result", "size", "height"})->AsNumber(), 3000.5);
    EXPECT_EQ(v.Path({"result", "size", "w"})->AsNumber(), -100);
    EXPECT_TRUE(v.Path({"result", "ok"})->AsBool());
    EXPECT_EQ(v.Path({"result", "none"})->type(), JsonValue::Type::kNull);
    EXPECT_EQ(v.Path({"result", "list"})->Items().size(), 3u);
    EXPECT_EQ(v.Path({"result", "missing"}), nullptr);
    EXPECT_EQ(v.Path({"id", "below a number"}), nullptr);
    ASSERT_TRUE(ParseJson(R"("a\"b\\c\/d\n\t\u0041\u00e9\u20ac\ud83d\ude00")", &v));
    EXPECT_EQ(v.AsString(), "a\"b\\c/d\n\tA\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_TRUE(ParseJson(std::string(60, '[') + std::string(60, ']'), &v));
}

TEST(Json, RefusesMalformedText) {
    const char* values[] = {"",      "{",          "{\"a\":}", "{\"a\" 1}", "{a:1}", "[1,]",
                            "[1 2]", "{\"a\":1,}", "tru",      "nul",       "01",    "1.",
                            "-",     "1e",         "{} {}",    "1 2"};
    const char* strings[] = {"\"unterminated", "\"raw\ncontrol\"", "\"\\x\"",           "\"\\u12\"",
                             "\"\\ud83d\"",    "\"\\ude00\"",      "\"\\ud83d\\u0041\""};
    JsonValue v;
    for (const char* text : values) EXPECT_FALSE(ParseJson(text, &v)) << text;
    for (const char* text : strings) EXPECT_FALSE(ParseJson(text, &v)) << text;
    EXPECT_FALSE(ParseJson(std::string(100000, '['), &v)) << "nested too deep";
}

TEST(Json, QuotedTextParsesBackToItself) {
    const std::string texts[] = {"", "plain", "quote\" backslash\\ slash/",
                                 std::string("controls \x01\x1f\x7f\n\r\t\0end", 19),
                                 "http://h/\xc3\xa9?q=\"x\""};
    for (const std::string& text : texts) {
        JsonValue v;
        ASSERT_TRUE(ParseJson(JsonQuote(text), &v)) << JsonQuote(text);
        EXPECT_EQ(v.AsString(), text);
    }
}

TEST(Base64, RoundTripsAndRefusesJunk) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t n = 0; n <= 7; ++n) {
        std::string decoded;
        ASSERT_TRUE(Base64Decode(Base64Encode(all.substr(250 - n, n)), &decoded));
        EXPECT_EQ(decoded, all.substr(250 - n, n));
    }
    EXPECT_EQ(Base64Encode("Ma"), "TWE=");
    std::string out = "untouched";
    for (const char* bad : {"TWF", "TW=u", "T===", "TWFu!A==", "TQ==TWFu", "TWF\n"})
        EXPECT_FALSE(Base64Decode(bad, &out)) << bad;
    EXPECT_EQ(out, "untouched");
}

// A frame as a server sends it: a client frame with its mask bit and key taken out.
std::string ServerFrame(unsigned firstByte, const std::string& payload) {
    std::string frame = WsClientFrame(WsOpcode::kText, payload, 0);
    frame[0] = static_cast<char>(firstByte);
    frame[1] = static_cast<char>(frame[1] & 0x7F);
    return frame.erase(frame.size() - payload.size() - 4, 4);
}

TEST(WebSocket, ClientFramesAreMaskedWithTheRightLength) {
    for (std::size_t n : {0u, 125u, 126u, 65535u, 65536u}) {
        const std::string frame = WsClientFrame(WsOpcode::kText, std::string(n, 'x'), 0x11223344u);
        const std::size_t header = n < 126 ? 2 : n <= 0xFFFF ? 4 : 10;
        ASSERT_EQ(frame.size(), header + 4 + n) << n;
        EXPECT_EQ(static_cast<unsigned char>(frame[0]), 0x81u);
        EXPECT_TRUE(static_cast<unsigned char>(frame[1]) & 0x80) << "mask bit";
        const std::string key = frame.substr(header, 4);
        EXPECT_EQ(key, "\x11\x22\x33\x44");
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(static_cast<char>(frame[header + 4 + i] ^ key[i % 4]), 'x');
    }
}

// What a reader with this message limit makes of stream fed in pieces, up to a close or an
// error.
std::string Events(const std::string& stream, std::size_t piece, std::size_t limit) {
    WsReader reader(limit);
    std::string seen;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
        std::string payload;
        for (WsReader::Event e; (e = reader.Next(&payload)) != WsReader::Event::kNeedMore;) {
            if (e == WsReader::Event::kClose) return seen + "close";
            if (e == WsReader::Event::kError) return seen + "error: " + reader.error();
            seen += (e == WsReader::Event::kPing ? "ping " : "message ") + payload + "|";
        }
    }
    return seen;
}

TEST(WebSocket, ReassemblesMessagesFedInAnyPieces) {
    const std::string big(70000, 'b');
    const std::string stream = ServerFrame(0x81, "{\"id\":1}") + ServerFrame(0x01, "frag") +
                               ServerFrame(0x89, "are you there") + ServerFrame(0x00, "men") +
                               ServerFrame(0x8A, "stray pong") + ServerFrame(0x80, "ted") +
                               ServerFrame(0x82, big) + ServerFrame(0x88, "");
    for (std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{7}}) {
        EXPECT_TRUE(Events(stream, piece, 1 << 20) ==
                    "message {\"id\":1}|ping are you there|message fragmented|message " + big +
                        "|close")
            << "piece " << piece;
    }
}

TEST(WebSocket, RefusesFramesAClientMustNotAccept) {
    const std::pair<const char*, std::string> cases[] = {
        {"masked", std::string("\x81\x81", 2) + "abcdx"},
        {"reserved bits", ServerFrame(0xC1, "x")},
        {"unknown opcode", ServerFrame(0x83, "x")},
        {"long control frame", ServerFrame(0x89, std::string(126, 'p'))},
        {"fragmented control frame", ServerFrame(0x09, "p")},
        {"continuation without start", ServerFrame(0x80, "x")},
        {"message inside a message", ServerFrame(0x01, "a") + ServerFrame(0x81, "b")},
        {"over the limit in one frame", ServerFrame(0x81, std::string(101, 'x'))},
        {"over the limit in fragments",
         ServerFrame(0x01, std::string(60, 'x')) + ServerFrame(0x80, std::string(60, 'x'))},
        // A declared length of 2^63 must be refused before anything is allocated.
        {"absurd length", std::string("\x81\x7f\x80\0\0\0\0\0\0\0", 10)},
    };
    for (const auto& [name, bytes] : cases) {
        for (std::size_t piece : {bytes.size(), std::size_t{1}}) {
            const std::string events = Events(bytes, piece, 100);
            EXPECT_EQ(events.rfind("error: ", 0), 0u) << name << ": " << events;
            EXPECT_GT(events.size(), 7u) << name << ": no reason given";
        }
    }
}

// The request itself is checked by every real browser the renderer talks to.
TEST(WebSocket, OnlyA101AcceptsTheHandshake) {
    EXPECT_TRUE(WsHandshakeAccepted("HTTP/1.1 101 WebSocket Protocol Handshake\r\n"));
    for (const char* refused : {"HTTP/1.1 403 Forbidden\r\n", "HTTP/1.1 1010 Odd\r\n", "garbage"})
        EXPECT_FALSE(WsHandshakeAccepted(refused)) << refused;
}

TEST(DevTools, ReadsTheActivePortFile) {
    const std::pair<const char*, const char*> read[] = {
        {"35415\n/devtools/browser/678e8933", "35415/devtools/browser/678e8933"},
        {"9222\r\n/devtools/browser/a\r\n", "9222/devtools/browser/a"},
        {"9222\n/devtools/browser/a\n", "9222/devtools/browser/a"}};
    for (const auto& [text, portAndPath] : read) {
        int port = 0;
        std::string path;
        EXPECT_TRUE(ParseActivePort(text, &port, &path)) << text;
        EXPECT_EQ(std::to_string(port) + path, portAndPath);
    }
    // Still being written, ports out of range, paths that would break the request line.
    for (const char* text :
         {"9222", "9222\n", "0\n/x", "65536\n/x", "12a\n/x", "9222\nno-slash", "9222\n/bad path"}) {
        int port = 0;
        std::string path;
        EXPECT_FALSE(ParseActivePort(text, &port, &path)) << text;
        EXPECT_EQ(std::to_string(port) + path, "0") << text;
    }
}

// Commands with parameters and a session are checked by every real browser the renderer
// talks to.
TEST(DevTools, CommandsAndPageHeight) {
    EXPECT_EQ(CdpCommand(1, "Browser.close", "", ""), "{\"id\":1,\"method\":\"Browser.close\"}");
    const std::pair<const char*, int> cases[] = {
        {R"({"cssContentSize":{"height":3000.2},"contentSize":{"height":6000}})", 3001},
        {R"({"contentSize":{"height":812}})", 812},
        {R"({"cssContentSize":{"height":99999}})", 16384},
        {R"({"cssContentSize":{"height":0}})", 1},
        {R"({"cssContentSize":{"height":"tall"}})", 0},
        {R"({})", 0},
    };
    for (const auto& [result, height] : cases) {
        JsonValue v;
        ASSERT_TRUE(ParseJson(result, &v)) << result;
        EXPECT_EQ(PageHeightFromMetrics(v, 16384), height) << result;
    }
}

}  // namespace
}  // namespace pagesnap

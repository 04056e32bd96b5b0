#include "site/command/PlainHttp.h"

#include <gtest/gtest.h>

TEST(PlainHttp, TakesOnlyAPlainHttpUrlWithoutAQuery)
{
    const auto url = ParseHttpUrl("http://127.0.0.1:8080/entravo/login.fcgi");
    ASSERT_TRUE(url);
    EXPECT_EQ("127.0.0.1", url->host);
    EXPECT_EQ("8080", url->port);
    EXPECT_EQ("/entravo/login.fcgi", url->path);
    EXPECT_EQ("80", ParseHttpUrl("http://logon.example.com/entravo/login.cgi")->port);
    EXPECT_EQ("::1", ParseHttpUrl("http://[::1]:81/x")->host);
    for (const char* text :
         {"https://logon.example.com/entravo/login.cgi", "http://logon.example.com", "http://h/x?Authenticate=1",
          "http://h/x#top", "http://:80/x", "http://h:http/x", "http://[::1/x", "http://h:80x/x"})
        EXPECT_FALSE(ParseHttpUrl(text)) << text;
}

TEST(PlainHttp, ReadsStatusHeadersAndTheStartOfTheBody)
{
    const auto answer = ParseHttpAnswer("HTTP/1.1 303 See Other\r\nLocation: /entravo/login.fcgi\r\n"
                                        "Set-Cookie: entravo_session=AB; Path=/\r\nX-Empty:\r\n\r\n<p>body</p>");
    ASSERT_TRUE(answer);
    EXPECT_EQ(303, answer->status);
    EXPECT_EQ("/entravo/login.fcgi", answer->Header("location"));
    EXPECT_EQ("entravo_session=AB; Path=/", answer->Header("set-cookie"));
    EXPECT_EQ("", answer->Header("x-empty"));
    EXPECT_EQ(std::nullopt, answer->Header("content-type"));
    EXPECT_EQ("<p>body</p>", answer->body);
    EXPECT_EQ(kMostBodyBytes,
              ParseHttpAnswer("HTTP/1.0 200 OK\r\n\r\n" + std::string(kMostBodyBytes + 9, 'x'))->body.size());
    for (const char* text :
         {"",
          "\x7f"
          "ELF",
          "HTTP/1.1 20 OK\r\n\r\n", "HTTP/1.1 200 OK\r\nno colon\r\n\r\n", "HTTP/1.1 200 OK\r\nA: b\r\n"})
        EXPECT_FALSE(ParseHttpAnswer(text)) << text;
}

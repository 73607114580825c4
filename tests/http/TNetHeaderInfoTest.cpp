// Header objects: request defaults and header order, response header parsing, date texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/NetDateTime.h"
#include "http/TNetRequestHeaderInfo.h"
#include "http/TNetResponseHeaderInfo.h"
#include "runtime/Text.h"

using net::TNetRequestHeaderInfo;
using net::TNetResponseHeaderInfo;

namespace {

std::vector<std::u16string> linesOf(const net::TNetHeaderList& list) { return {list.begin(), list.end()}; }

void receive(TNetResponseHeaderInfo& response, std::initializer_list<const char16_t*> lines) {
  response.WireHeaders().Clear();
  for (const char16_t* line : lines) response.WireHeaders().Add(line);
  response.ParseHeaderLines();
}

}  // namespace

// The lines a fresh client's existence query carries, in order.
TEST(TNetRequestHeaderInfo, ExistenceQueryHeadersInOrder) {
  TNetRequestHeaderInfo request;
  request.ContentType = u"application/x-www-form-urlencoded";
  request.ContentEncoding = u"UTF-8";
  request.Connection = u"keep-alive";
  request.SetContentLength(30);
  request.Host = u"127.0.0.1:8750";
  request.AcceptEncoding = u"identity";
  request.BuildHeaderLines();
  const std::vector<std::u16string> expected = {
      u"Connection: keep-alive",           u"Content-Encoding: UTF-8",
      u"Content-Type: application/x-www-form-urlencoded", u"Content-Length: 30",
      u"Host: 127.0.0.1:8750",             u"Accept: text/html, */*",
      u"Accept-Encoding: identity",        u"User-Agent: Mozilla/3.0 (compatible; Talvenook)"};
  EXPECT_EQ(linesOf(request.WireHeaders()), expected);

  // Building again starts from an empty list; a length of 0 is written, -1 is not.
  request.SetContentLength(0);
  request.BuildHeaderLines();
  EXPECT_EQ(request.WireHeaders().ValueOf(u"Content-Length"), u"0");
  EXPECT_EQ(request.WireHeaders().Count(), 8);
  request.SetContentLength(-1);
  EXPECT_FALSE(request.HasContentLength());
  request.BuildHeaderLines();
  EXPECT_EQ(request.WireHeaders().FindName(u"Content-Length"), -1);
}

// Every row in table order; custom lines sit between Pragma and Proxy-Connection; a custom line
// named like a later row is overwritten in place, one named like an earlier row is not.
TEST(TNetRequestHeaderInfo, EveryRowInOrderWithCustomLines) {
  TNetRequestHeaderInfo request;
  request.Connection = u"c";
  request.ContentVersion = u"cv";
  request.ContentDisposition = u"cd";
  request.ContentEncoding = u"ce";
  request.ContentLanguage = u"cl";
  request.ContentType = u"ct";
  request.SetContentLength(5);
  request.CacheControl = u"no-cache";
  request.Date = net::parseInternetDate(u"Sun, 06 Nov 1994 08:49:37 GMT");
  request.ETag = u"\"e\"";
  request.Expires = net::parseInternetDate(u"Mon, 07 Nov 1994 08:49:37 GMT");
  request.Pragma = u"p";
  request.CustomHeaders().Add(u"X-First: 1");
  request.CustomHeaders().Add(u"user-agent: custom");
  request.CustomHeaders().Add(u"Connection: custom");
  request.ProxyConnection = u"pc";
  request.Host = u"h";
  request.AcceptCharSet = u"utf-8";
  request.AcceptEncoding = u"identity";
  request.AcceptLanguage = u"fi";
  request.From = u"me@h";
  request.Referer = u"http://r/";
  request.Range = u"0-9";
  request.LastModified = request.Date;
  request.Username = u"user";
  request.Password = u"pass";
  request.BasicAuthentication = true;
  request.BuildHeaderLines();

  const std::vector<std::u16string> expected = {
      u"Connection: c",
      u"Content-Version: cv",
      u"Content-Disposition: cd",
      u"Content-Encoding: ce",
      u"Content-Language: cl",
      u"Content-Type: ct",
      u"Content-Length: 5",
      u"Cache-control: no-cache",
      u"Date: Sun, 06 Nov 1994 08:49:37 GMT",
      u"ETag: \"e\"",
      u"Expires: Mon, 07 Nov 1994 08:49:37 GMT",
      u"Pragma: p",
      u"X-First: 1",
      u"User-Agent: Mozilla/3.0 (compatible; Talvenook)",
      u"Connection: custom",
      u"Proxy-Connection: pc",
      u"Host: h",
      u"Accept: text/html, */*",
      u"Accept-Charset: utf-8",
      u"Accept-Encoding: identity",
      u"Accept-Language: fi",
      u"From: me@h",
      u"Referer: http://r/",
      u"Range: bytes=0-9",
      u"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT",
      u"Authorization: Basic dXNlcjpwYXNz",
  };
  EXPECT_EQ(linesOf(request.WireHeaders()), expected);
  // The custom list itself is left alone.
  EXPECT_EQ(request.CustomHeaders()[1], u"user-agent: custom");
}

// Wire headers fold at 1024 columns, custom headers at 78.
TEST(TNetRequestHeaderInfo, FoldWidths) {
  TNetRequestHeaderInfo request;
  std::u16string longValue;
  for (int i = 0; i < 150; ++i) longValue += u"word ";
  request.WireHeaders().SetHeader(u"X-Long", longValue);
  request.CustomHeaders().SetHeader(u"X-Long", longValue);
  EXPECT_EQ(request.WireHeaders().Count(), 1);
  EXPECT_GT(request.CustomHeaders().Count(), 9);
}

TEST(TNetRequestHeaderInfo, ResetFieldsRestoresDefaultsAndKeepsTheRest) {
  TNetRequestHeaderInfo request;
  request.Accept = u"x";
  request.AcceptCharSet = u"x";
  request.UserAgent = u"x";
  request.BasicAuthentication = true;
  request.Range = u"1-2";
  request.ContentType = u"x";
  request.SetContentLength(7);
  request.Date = 1000;
  request.WireHeaders().Add(u"A: b");
  request.Pragma = u"kept";
  request.CustomHeaders().Add(u"X: kept");
  request.Host = u"kept";
  request.AcceptEncoding = u"kept";
  request.ResetFields();
  EXPECT_EQ(request.Accept, u"text/html, */*");
  EXPECT_EQ(request.AcceptCharSet, u"");
  EXPECT_EQ(request.UserAgent, u"Mozilla/3.0 (compatible; Talvenook)");
  EXPECT_FALSE(request.BasicAuthentication);
  EXPECT_EQ(request.Range, u"");
  EXPECT_EQ(request.ContentType, u"");
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_EQ(request.Date, 0);
  EXPECT_EQ(request.WireHeaders().Count(), 0);
  EXPECT_EQ(request.Pragma, u"kept");
  EXPECT_EQ(request.CustomHeaders().Count(), 1);
  EXPECT_EQ(request.Host, u"kept");
  EXPECT_EQ(request.AcceptEncoding, u"kept");
}

// Content-Length: a 32-bit decimal number, else no length.
TEST(TNetResponseHeaderInfo, ContentLengthIsA32BitNumber) {
  TNetResponseHeaderInfo response;
  struct Case {
    const char16_t* line;
    std::int64_t length;
  };
  for (const Case& c : {Case{u"content-length: 12", 12}, Case{u"Content-Length: 2147483647", 2147483647},
                        Case{u"Content-Length: 2147483648", -1}, Case{u"Content-Length: 99999999999999999999", -1},
                        Case{u"Content-Length: 12abc", -1}, Case{u"Content-Length: 0x10", -1},
                        Case{u"Content-Length:", -1}, Case{u"Content-Length : 12", -1}, Case{u"Server: x", -1},
                        Case{u"Content-Length:   0  ", 0}}) {
    SCOPED_TRACE(std::string(c.line, c.line + std::char_traits<char16_t>::length(c.line)));
    receive(response, {c.line});
    EXPECT_EQ(response.ContentLength(), c.length);
    EXPECT_EQ(response.HasContentLength(), c.length >= 0);
  }
}

TEST(TNetResponseHeaderInfo, FieldsFromFirstLinesAndAllAuthenticateLines) {
  TNetResponseHeaderInfo response;
  EXPECT_EQ(response.ContentType, u"text/html");
  receive(response, {u"Server: first", u"Location: /next", u"server: second", u"Connection: Keep-Alive",
                     u"WWW-Authenticate: Basic realm=\"x\"", u"Proxy-Authenticate: Basic", u"Accept-Ranges: bytes",
                     u"www-authenticate: Digest realm=\"y\"", u"Proxy-Connection: close", u"ETag: \"abc\""});
  EXPECT_EQ(response.Server, u"first");
  EXPECT_EQ(response.Location, u"/next");
  EXPECT_EQ(response.Connection, u"Keep-Alive");
  EXPECT_EQ(response.ProxyConnection, u"close");
  EXPECT_EQ(response.AcceptRanges, u"bytes");
  EXPECT_EQ(response.ETag, u"\"abc\"");
  EXPECT_EQ(response.ContentType, u"");  // missing line replaces the initial text/html
  ASSERT_EQ(response.WWWAuthenticate().Count(), 2);
  EXPECT_EQ(response.WWWAuthenticate()[1], u"Digest realm=\"y\"");
  EXPECT_EQ(response.ProxyAuthenticate().Count(), 1);

  // A second parse replaces the lists; ResetFields restores the response defaults.
  receive(response, {u"Content-Type: text/plain"});
  EXPECT_EQ(response.WWWAuthenticate().Count(), 0);
  EXPECT_EQ(response.ContentType, u"text/plain");
  response.Location = u"x";
  response.ResetFields();
  EXPECT_EQ(response.ContentType, u"text/html");
  EXPECT_EQ(response.Location, u"");
}

TEST(TNetResponseHeaderInfo, ContentRange) {
  TNetResponseHeaderInfo response;
  receive(response, {u"Content-Range: bytes 100-199/1000"});
  EXPECT_EQ(response.ContentRangeStart, 100);
  EXPECT_EQ(response.ContentRangeEnd, 199);
  EXPECT_EQ(response.ContentRangeInstanceLength, 1000);
  receive(response, {u"Content-Range: bytes */5000000000"});
  EXPECT_EQ(response.ContentRangeStart, 0);
  EXPECT_EQ(response.ContentRangeEnd, 0);
  EXPECT_EQ(response.ContentRangeInstanceLength, 5000000000);
  receive(response, {u"Content-Range: garbage"});
  EXPECT_EQ(response.ContentRangeStart, 0);
  EXPECT_EQ(response.ContentRangeInstanceLength, 0);
  receive(response, {u"Server: x"});
  EXPECT_EQ(response.ContentRangeEnd, 0);
}

// The three date forms read as the same moment; a numeric Expires counts seconds from now.
TEST(TNetResponseHeaderInfo, DatesAndExpires) {
  const net::TDateTime imf = net::parseInternetDate(u"Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_GT(imf, 0);
  EXPECT_EQ(net::internetDateText(imf), u"Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_NEAR(net::parseInternetDate(u"Sunday, 06-Nov-94 08:49:37 GMT"), imf, 1e-9);
  EXPECT_NEAR(net::parseInternetDate(u"Sun Nov  6 08:49:37 1994"), imf, 1e-9);
  EXPECT_NEAR(net::parseInternetDate(u"Sun, 06 Nov 1994 10:49:37 +0200"), imf, 1e-9);
  EXPECT_EQ(net::parseInternetDate(u"yesterday"), 0);
  // Values out of the calendar's range still give a well-formed text.
  EXPECT_EQ(net::internetDateText(1e300).substr(5), u"31 Dec 9999 23:59:59 GMT");
  EXPECT_EQ(net::parseInternetDate(u"Sun, 32 Nov 1994 08:49:37 GMT"), 0);
  // Digit fields of the wrong length or with other characters spoil the date, a number of any
  // length beyond four digits included.
  for (const char16_t* text : {u"Sun, 06 Nov 19940 08:49:37 GMT", u"Sun, 06 Nov 1994 08:49:3x GMT",
                               u"Sunday, 006-Nov-94 08:49:37 GMT", u"Sunday, 06-Nov-1994a 08:49:37 GMT",
                               u"Sun, 06 Nov 1994 08:49:37 GMT 12345678901234567890123"})
    EXPECT_EQ(net::parseInternetDate(text), 0) << rt::toUtf8(text);

  TNetResponseHeaderInfo response;
  receive(response, {u"Date: Sun, 06 Nov 1994 08:49:37 GMT", u"Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT",
                     u"Expires: -1"});
  EXPECT_NEAR(response.Date, imf, 1e-9);
  EXPECT_NEAR(response.LastModified, imf, 1e-9);
  EXPECT_EQ(response.Expires, 0);
  receive(response, {u"Expires: 3600"});
  EXPECT_NEAR(response.Expires, net::localNow() + 1.0 / 24, 1.0 / 86400 * 5);
  receive(response, {u"Expires: Sun, 06 Nov 1994 08:49:37 GMT"});
  EXPECT_NEAR(response.Expires, imf, 1e-9);
}

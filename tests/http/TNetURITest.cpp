// TNetURI: URL splitting, composing and path merging.
#include <gtest/gtest.h>

#include <string>

#include "http/NetExceptions.h"
#include "http/TNetURI.h"

using net::TNetIPVersion;
using net::TNetURI;

namespace {

struct Parts {
  std::u16string url, scheme, host, port, path, document, parameters, fragment;
};

void expectParts(const Parts& p, TNetIPVersion family = TNetIPVersion::Net_IPv4) {
  SCOPED_TRACE(std::string(p.url.begin(), p.url.end()));
  const TNetURI uri(p.url);
  EXPECT_EQ(uri.Scheme, p.scheme);
  EXPECT_EQ(uri.Host, p.host);
  EXPECT_EQ(uri.Port, p.port);
  EXPECT_EQ(uri.Path, p.path);
  EXPECT_EQ(uri.Document, p.document);
  EXPECT_EQ(uri.Parameters, p.parameters);
  EXPECT_EQ(uri.Fragment, p.fragment);
  EXPECT_EQ(uri.AddressFamily, family);
}

}  // namespace

// The documented splits: parameters cut at "?" (or "=" when there is no "?") before the fragment
// is looked for; an absolute URL always has a path.
TEST(TNetURI, SplitsAbsoluteAndRelativeUrls) {
  expectParts({u"http://h/index.php?r=sw/exist", u"http", u"h", u"", u"/", u"index.php", u"r=sw/exist", u""});
  expectParts({u"http://h:8080/a/b/c.php?x=1", u"http", u"h", u"8080", u"/a/b/", u"c.php", u"x=1", u""});
  expectParts({u"http://h", u"http", u"h", u"", u"/", u"", u"", u""});
  expectParts({u"page.php?a=b", u"", u"", u"", u"", u"page.php", u"a=b", u""});
  expectParts({u"a=b", u"", u"", u"", u"", u"a", u"b", u""});
  expectParts({u"dir/sub/page.php?x", u"", u"", u"", u"dir/sub/", u"page.php", u"x", u""});
  expectParts({u"http://h/d?x=1#top", u"http", u"h", u"", u"/", u"d", u"x=1#top", u""});
  expectParts({u"http://h/d#top", u"http", u"h", u"", u"/", u"d", u"", u"top"});
  // A "=" in the path cuts there when no "?" comes first; "?" before the path also cuts.
  expectParts({u"http://h/a=b/c", u"http", u"h", u"", u"/", u"a", u"b/c", u""});
  expectParts({u"http://h?q", u"http", u"h", u"", u"/", u"", u"q", u""});
}

TEST(TNetURI, BracketedHostIsIPv6WithoutBrackets) {
  expectParts({u"http://[::1]:81/", u"http", u"::1", u"81", u"/", u"", u"", u""}, TNetIPVersion::Net_IPv6);
  expectParts({u"http://[fe80::1]/x", u"http", u"fe80::1", u"", u"/", u"x", u"", u""}, TNetIPVersion::Net_IPv6);
  // "]" before "[" is no bracketed host: the host ends at the first ":".
  expectParts({u"http://a]b[:9/", u"http", u"a]b[", u"9", u"/", u"", u"", u""});
}

TEST(TNetURI, BackslashesParseLikeForwardSlashes) {
  const TNetURI uri(u"http://h\\dir\\doc.php");
  EXPECT_EQ(uri.Host, u"h");
  EXPECT_EQ(uri.Path, u"/dir/");
  EXPECT_EQ(uri.Document, u"doc.php");
  EXPECT_EQ(uri.FullText, u"http://h/dir/doc.php");
}

// Credentials: split at the first "@" and then the first ":"; an empty user name drops the
// password.
TEST(TNetURI, Credentials) {
  TNetURI uri(u"http://user:pa:ss@h:8080/x");
  EXPECT_EQ(uri.Username, u"user");
  EXPECT_EQ(uri.Password, u"pa:ss");
  EXPECT_EQ(uri.Host, u"h");
  EXPECT_EQ(uri.Port, u"8080");

  uri.ParseURL(u"http://user@h/");
  EXPECT_EQ(uri.Username, u"user");
  EXPECT_EQ(uri.Password, u"");

  uri.ParseURL(u"http://:secret@h/");
  EXPECT_EQ(uri.Username, u"");
  EXPECT_EQ(uri.Password, u"");
  EXPECT_EQ(uri.Host, u"h");
}

TEST(TNetURI, ParsingAgainReplacesEveryPart) {
  TNetURI uri(u"ftp://u:p@[::1]:21/a/b?c#d");
  uri.ParseURL(u"doc");
  EXPECT_EQ(uri.Scheme, u"");
  EXPECT_EQ(uri.Host, u"");
  EXPECT_EQ(uri.Port, u"");
  EXPECT_EQ(uri.Path, u"");
  EXPECT_EQ(uri.Username, u"");
  EXPECT_EQ(uri.Password, u"");
  EXPECT_EQ(uri.Parameters, u"");
  EXPECT_EQ(uri.Document, u"doc");
  EXPECT_EQ(uri.AddressFamily, TNetIPVersion::Net_IPv4);
}

TEST(TNetURI, TargetTextAddsQuestionMarkOnlyWithParameters) {
  EXPECT_EQ(TNetURI(u"http://h/index.php?r=sw/exist").TargetText(), u"/index.php?r=sw/exist");
  EXPECT_EQ(TNetURI(u"http://h/a b/c").TargetText(), u"/a b/c");
  EXPECT_EQ(TNetURI(u"http://h").TargetText(), u"/");
}

// Default ports are dropped by exact text and case-insensitive scheme; other schemes keep theirs.
TEST(TNetURI, ComposeURLPortsCredentialsAndFragment) {
  EXPECT_EQ(TNetURI(u"http://h:80/d").ComposeURL(false, false), u"http://h/d");
  EXPECT_EQ(TNetURI(u"http://h:8080/d").ComposeURL(false, false), u"http://h:8080/d");
  EXPECT_EQ(TNetURI(u"http://h:080/d").ComposeURL(false, false), u"http://h:080/d");
  EXPECT_EQ(TNetURI(u"HTTPS://h:443/").ComposeURL(false, false), u"HTTPS://h/");
  EXPECT_EQ(TNetURI(u"https://h:80/").ComposeURL(false, false), u"https://h:80/");
  EXPECT_EQ(TNetURI(u"Ftp://h:21/f").ComposeURL(false, false), u"Ftp://h/f");
  EXPECT_EQ(TNetURI(u"gopher://h:80/").ComposeURL(false, false), u"gopher://h:80/");
  EXPECT_EQ(TNetURI(u"http://[::1]:81/").ComposeURL(false, false), u"http://::1:81/");

  const TNetURI full(u"http://u:p@h/d#frag");
  EXPECT_EQ(full.ComposeURL(true, true), u"http://u:p@h/d#frag");
  EXPECT_EQ(full.ComposeURL(false, false), u"http://h/d");
  EXPECT_EQ(TNetURI(u"http://u@h/").ComposeURL(true, false), u"http://u@h/");

  TNetURI shortened(u"http://u:p@h:8080/a/d#f");
  shortened.FullText.clear();
  EXPECT_EQ(shortened.ShortURL(), u"http://h:8080/a/d");
  EXPECT_EQ(shortened.FullText, u"http://u:p@h:8080/a/d#f");
}

TEST(TNetURI, ComposeURLNeedsSchemeAndHost) {
  try {
    TNetURI(u"/just/a/path").ComposeURL(false, false);
    FAIL() << "no error";
  } catch (const net::ENetURIException& e) {
    EXPECT_EQ(e.Message(), u"Protocol field is empty");
  }
  try {
    TNetURI(u"http:///path").ComposeURL(false, false);
    FAIL() << "no error";
  } catch (const net::ENetURIException& e) {
    EXPECT_EQ(e.Message(), u"Host field is empty");
  }
}

TEST(TNetURI, MergePath) {
  // An absolute path replaces the base.
  EXPECT_EQ(TNetURI::MergePath(u"/a/b/", u"/x/../y"), u"/x/../y");
  // Dot segments: ".." removes the segment before it, "." stays.
  EXPECT_EQ(TNetURI::MergePath(u"/a/b", u"../c"), u"/a/c");
  EXPECT_EQ(TNetURI::MergePath(u"/a/b/", u"./c"), u"/a/b/./c");
  EXPECT_EQ(TNetURI::MergePath(u"/a/", u"../../c"), u"/c");
  // Trailing delimiter: kept only when the path ends with one or is empty.
  EXPECT_EQ(TNetURI::MergePath(u"/a/b/", u"x/"), u"/a/b/x/");
  EXPECT_EQ(TNetURI::MergePath(u"/a/", u"x"), u"/a/x");
  EXPECT_EQ(TNetURI::MergePath(u"/a/b/", u""), u"/a/b/");
  EXPECT_EQ(TNetURI::MergePath(u"/a/", u"b/.."), u"/a");
  EXPECT_EQ(TNetURI::MergePath(u"/", u""), u"/");
  // Runs of delimiters collapse; an empty base adds no delimiter.
  EXPECT_EQ(TNetURI::MergePath(u"//a//", u"b//c/"), u"/a/b/c/");
  EXPECT_EQ(TNetURI::MergePath(u"", u"x/y"), u"x/y");
}

// The icon service calls over the HTTP client, the JSON reader and the multipart body.
#include "service/IconService.h"

#include <new>

#include "http/TNetHTTP.h"
#include "json/JsonParse.h"
#include "platform/DebugChannel.h"
#include "runtime/Exception.h"
#include "runtime/TStringList.h"
#include "runtime/TStringStream.h"
#include "runtime/Text.h"
#include "service/TEncodingMultiPartFormData.h"

#ifndef TALVENOOK_SERVICE_BASE
#error "TALVENOOK_SERVICE_BASE (the service base address) must be defined by the build"
#endif

namespace service {
namespace {

constexpr char16_t kExistAction[] = u"index.php?r=sw/exist";
constexpr char16_t kUploadAction[] = u"index.php?r=sw/upload";

void applyTimeouts(net::TNetHTTP& http, const ServiceCallSettings& settings) {
  http.ConnectTimeout = settings.connectTimeout;
  http.ReadTimeout = settings.readTimeout;
  http.ExchangeTimeout = settings.exchangeTimeout;
  http.MaxReplySize = kReplyLimit;
}

// The texts reach the multipart body as the zero-terminated strings they were: an embedded
// U+0000 ends them.
std::u16string untilNull(const std::u16string& text) { return text.substr(0, text.find(u'\0')); }

void PostMultipart(net::TNetHTTP& http, const std::u16string& url, TNetMultiPartFormDataStream& body,
                   rt::TStringStream& responseBuffer) {
  http.Request().ContentType = body.FormContentType();
  http.PostStream(url, body, responseBuffer);
}

// An upload reply that is JSON and says "success": false reports a refused upload. Anything
// else (no JSON, no "success" member, another value) leaves the completed exchange a success.
bool replyReportsFailure(rt::TStringStream& responseBuffer) {
  const json::JsonRef reply = json::ParseFromStream(responseBuffer, false, true);
  if (!reply) return false;
  const json::JsonRef success = reply->ValueAt(u"success");
  return success && !success->ToBool();
}

}  // namespace

std::u16string ServiceCallSettings::defaultServiceBase() { return u"" TALVENOOK_SERVICE_BASE; }

bool iconExists(const std::u16string& name, const std::u16string& version, const ServiceCallSettings& settings) {
  rt::TStringStream responseBuffer;
  net::TNetHTTP http;
  applyTimeouts(http, settings);
  http.Request().ContentType = u"application/x-www-form-urlencoded";
  http.Request().ContentEncoding = u"UTF-8";
  // Two lines, joined by "&" in the body: the separators stay raw while the values are encoded
  // whole, so "&", "+" and "=" inside a name reach the service intact.
  rt::TStringList parameters;
  parameters.Add(u"&name=" + name);
  parameters.Add(u"version=" + version);
  try {
    http.PostStrings(settings.baseAddress + kExistAction, parameters, responseBuffer);
    if (platform::debugListening()) platform::debugOutput(u"ResponseStream: " + responseBuffer.DataText());
    // The exchange leaves the buffer at its end; the reader takes it from its first byte.
    const json::JsonRef reply = json::ParseFromStream(responseBuffer, false, true);
    if (!reply || !reply->BoolAt(u"success")) return false;
    return !reply->BoolAt(u"exist");
  } catch (const rt::Exception&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version,
                const ServiceCallSettings& settings) {
  rt::TStringStream responseBuffer;
  net::TNetHTTP http;
  applyTimeouts(http, settings);
  try {
    // The body owns the open ICO file; leaving this block by any path closes it.
    TEncodingMultiPartFormData body;
    const std::u16string path = untilNull(iconPath);
    body.AddTextField(u"name", untilNull(name));
    body.AddTextField(u"version", untilNull(version));
    body.AddFileField(u"icon", path, u"");
    platform::debugOutput(path + rt::intToText(body.Size()));
    http.Request().ContentType = body.FormContentType();
    platform::debugOutput(http.Request().ContentType);
    PostMultipart(http, settings.baseAddress + kUploadAction, body, responseBuffer);
    if (platform::debugListening()) platform::debugOutput(u"ResponseStream: " + responseBuffer.DataText());
    return !replyReportsFailure(responseBuffer);
  } catch (const rt::Exception&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace service

// The icon service calls over the HTTP client, the JSON reader and the multipart body.
#include "service/IconService.h"

#include <functional>
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

// The texts reach the multipart body as the zero-terminated strings they were: an embedded
// U+0000 ends them.
std::u16string untilNull(const std::u16string& text) { return text.substr(0, text.find(u'\0')); }

// Sends a call's request with `http` and leaves the reply in the buffer.
using Post = std::function<void(net::TNetHTTP& http, rt::TStringStream& reply)>;
// What a call makes of the reply that arrived.
using Judge = bool (*)(rt::TStringStream& reply);

// One exchange with the service, shared by both calls: a client with the settings' waits and
// reply limit, the request sent by `post`, the reply written to the debug channel when it
// arrived, and the result `judge` reads from it. Every failure on the way gives false.
bool exchange(const ServiceCallSettings& settings, const Post& post, Judge judge) {
  try {
    rt::TStringStream reply;
    net::TNetHTTP http;
    http.ConnectTimeout = settings.connectTimeout;
    http.ReadTimeout = settings.readTimeout;
    http.ExchangeTimeout = settings.exchangeTimeout;
    http.MaxReplySize = settings.replyLimit;
    post(http, reply);
    if (platform::debugListening()) platform::debugOutput(u"ResponseStream: " + reply.DataText());
    return judge(reply);
  } catch (const rt::Exception&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// An upload is wanted when the reply reads "success": true and "exist": false.
bool uploadWanted(rt::TStringStream& reply) {
  // The exchange leaves the buffer at its end; the reader takes it from its first byte.
  const json::JsonRef parsed = json::ParseFromStream(reply, json::kLenient, json::kPartialInput);
  if (!parsed || !parsed->BoolAt(u"success")) return false;
  return !parsed->BoolAt(u"exist");
}

// An upload reply that is JSON and says "success": false reports a refused upload. Anything
// else (no JSON, no "success" member, another value) leaves the completed exchange a success.
bool uploadAccepted(rt::TStringStream& reply) {
  const json::JsonRef parsed = json::ParseFromStream(reply, json::kLenient, json::kPartialInput);
  if (!parsed) return true;
  const json::JsonRef success = parsed->ValueAt(u"success");
  return !success || success->ToBool();
}

}  // namespace

std::u16string ServiceCallSettings::defaultServiceBase() { return u"" TALVENOOK_SERVICE_BASE; }

bool iconExists(const std::u16string& name, const std::u16string& version, const ServiceCallSettings& settings) {
  const auto post = [&](net::TNetHTTP& http, rt::TStringStream& reply) {
    http.Request().ContentType = u"application/x-www-form-urlencoded";
    http.Request().ContentEncoding = u"UTF-8";
    // Two lines, joined by "&" in the body: the separators stay raw while the values are encoded
    // whole, so "&", "+" and "=" inside a name reach the service intact.
    rt::TStringList parameters;
    parameters.Add(u"&name=" + name);
    parameters.Add(u"version=" + version);
    http.PostStrings(settings.baseAddress + kExistAction, parameters, reply);
  };
  return exchange(settings, post, uploadWanted);
}

bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version,
                const ServiceCallSettings& settings) {
  const auto post = [&](net::TNetHTTP& http, rt::TStringStream& reply) {
    // The body owns the open ICO file; it is closed when the request has been sent, or failed.
    TEncodingMultiPartFormData body;
    const std::u16string path = untilNull(iconPath);
    body.AddTextField(u"name", untilNull(name));
    body.AddTextField(u"version", untilNull(version));
    body.AddFileField(u"icon", path, u"");
    platform::debugOutput(path + rt::intToText(body.Size()));
    http.Request().ContentType = body.FormContentType();
    platform::debugOutput(http.Request().ContentType);
    http.PostStream(settings.baseAddress + kUploadAction, body, reply);
  };
  return exchange(settings, post, uploadAccepted);
}

}  // namespace service

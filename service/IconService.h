// The two calls to the icon service: the existence query (is an icon wanted for this name and
// version?) and the upload of one ICO file. Both block, make and free their own client and
// buffers, write the service's reply to the debug channel, and turn every failure into false.
// A call keeps at most its settings' reply limit; a longer reply fails the call.
#pragma once

#include <string>

namespace service {

// What a call needs to know about the service. The program always uses the defaults; tests point
// the calls at a local server and shorten the waits.
struct ServiceCallSettings {
  // Scheme http, host, optional port and a trailing "/"; the program's compiled-in address.
  std::u16string baseAddress = defaultServiceBase();
  // Milliseconds a connect may take and a read may wait for data before the call fails.
  long long connectTimeout = 15000;
  long long readTimeout = 60000;
  // Milliseconds the whole exchange, connect to last byte, may take before the call fails.
  long long exchangeTimeout = 120000;
  // The most reply bytes a call keeps (1 MiB): the service's replies are a few dozen bytes of JSON.
  long long replyLimit = 1 << 20;

  static std::u16string defaultServiceBase();
};

// POSTs "&name=<name>&version=<version>" (form encoded) to <base>index.php?r=sw/exist and reads
// the JSON reply. True only when the reply's "success" reads true and its "exist" reads false,
// that is, when an upload is wanted. Writes "ResponseStream: " + the reply when one arrived.
bool iconExists(const std::u16string& name, const std::u16string& version,
                const ServiceCallSettings& settings = {});

// POSTs a multipart body with the parts "name", "version" and the file part "icon" (the file at
// `iconPath`, named by that path) to <base>index.php?r=sw/upload. Writes, in order: the path
// directly followed by the body size, the content type, and "ResponseStream: " + the reply.
// True when the exchange completed with an accepted status, unless the reply is JSON whose
// "success" member reads false. The ICO file is open only during the call.
bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version,
                const ServiceCallSettings& settings = {});

}  // namespace service

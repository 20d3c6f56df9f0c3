#include "http_setup.h"

#include <mutex>

#include "orvo_version.h"
#include "settings.h"
#include "text.h"

namespace orvo {

void HttpGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

ProxySetting ReadProxySetting() {
  ProxySetting proxy;
  const Settings settings = Settings::Shared();
  if (settings.ReadInt(kSystemSection, "UseProxy", 0) == 0) return proxy;
  proxy.address = Trim(settings.ReadText(kSystemSection, "ProxyAddress", ""));
  const std::string port = Trim(settings.ReadText(kSystemSection, "ProxyPort", ""));
  if (proxy.address.empty()) {
    proxy.problem = "UseProxy is set but ProxyAddress is empty: the proxy is not used.";
    return proxy;
  }
  proxy.on = true;
  if (!port.empty()) {
    long n = 0;
    bool digits = port.size() <= 5;
    for (char c : port) {
      if (c < '0' || c > '9') digits = false;
      else n = n * 10 + (c - '0');
    }
    if (digits && n >= 1 && n <= 65535) proxy.port = n;
    else proxy.problem = "ProxyPort \"" + port + "\" is not a port number (1 to 65535): the proxy " +
                         proxy.address + " is used with its default port.";
  }
  return proxy;
}

void SetUpHttpHandle(CURL* h, char* errorBuffer) {
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  // Read at every request, as every setting is: a change takes effect at once.
  const ProxySetting proxy = ReadProxySetting();
  if (proxy.on) {
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.address.c_str());
    if (proxy.port > 0) curl_easy_setopt(h, CURLOPT_PROXYPORT, proxy.port);
  }
  if (errorBuffer) {
    errorBuffer[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  }
}

}  // namespace orvo

// Which proxy the Java side should use for a web address, asked of WinHTTP's sources in a fixed
// order: automatic discovery, a proxy auto-configuration script, the user's browser setting,
// the machine's default. The first that names a proxy wins, its string passed on unchanged.
// Nothing is kept between calls, so lookups may run at once on several threads.
#include "java_strings.h"

#include <tavro/boundary.h>
#include <tavro/win_handles.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

namespace korvix {

namespace {

constexpr wchar_t kUserAgent[] = L"Vestrelmark Browser/1.0";
// Asked about when the caller names no address; the .invalid domain never resolves.
constexpr wchar_t kPlaceholderAddress[] = L"http://tavro-proxy-lookup.invalid/";

struct ProxyQuestion {
    std::optional<std::wstring> url;
    std::optional<std::wstring> autoConfigUrl;
    bool useSystemAutoConfigUrl = false;
    bool autoDetect = false;
};

// Takes over a string WinHTTP allocated, freeing it; nothing when it is absent or empty.
std::optional<std::wstring> adoptPlatformString(wchar_t* text) {
    const tavro::GlobalMemory<wchar_t> owned(text);
    if (!owned || owned.get()[0] == L'\0') return std::nullopt;
    return std::wstring(owned.get());
}

// Runs discovery (no script address) or the given script for the address.
std::optional<std::wstring> askScript(const wchar_t* address, const wchar_t* scriptAddress) {
    const tavro::UniqueInternet session(
        ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return std::nullopt;

    WINHTTP_AUTOPROXY_OPTIONS options{};  // reserved fields zero
    options.dwFlags = scriptAddress ? WINHTTP_AUTOPROXY_CONFIG_URL : WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.lpszAutoConfigUrl = scriptAddress;
    options.fAutoLogonIfChallenged = TRUE;

    WINHTTP_PROXY_INFO answer{};
    const bool answered = ::WinHttpGetProxyForUrl(session.get(), address, &options, &answer) != FALSE;
    // Both strings are ours to free whatever the answer, a direct connection included.
    const tavro::GlobalMemory<wchar_t> bypass(answer.lpszProxyBypass);
    std::optional<std::wstring> proxy = adoptPlatformString(answer.lpszProxy);
    if (!answered) return std::nullopt;
    return proxy;
}

struct BrowserSettings {
    std::optional<std::wstring> scriptAddress;
    std::optional<std::wstring> proxy;
};

BrowserSettings browserSettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    const bool read = ::WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
    const tavro::GlobalMemory<wchar_t> bypass(config.lpszProxyBypass);
    BrowserSettings settings{adoptPlatformString(config.lpszAutoConfigUrl), adoptPlatformString(config.lpszProxy)};
    if (!read) return {};
    return settings;
}

std::optional<std::wstring> machineDefaultProxy() {
    WINHTTP_PROXY_INFO config{};
    const bool read = ::WinHttpGetDefaultProxyConfiguration(&config) != FALSE;
    const tavro::GlobalMemory<wchar_t> bypass(config.lpszProxyBypass);
    std::optional<std::wstring> proxy = adoptPlatformString(config.lpszProxy);
    if (!read) return std::nullopt;
    return proxy;
}

std::optional<std::wstring> proxyFor(const ProxyQuestion& question) {
    const wchar_t* const address = question.url ? question.url->c_str() : kPlaceholderAddress;
    std::optional<std::wstring> proxy;
    if (question.autoDetect) proxy = askScript(address, nullptr);
    if (!proxy) {
        const std::optional<std::wstring> scriptAddress =
            question.useSystemAutoConfigUrl ? browserSettings().scriptAddress : question.autoConfigUrl;
        // An empty address names no script; handing it on would ask for discovery instead.
        if (scriptAddress && !scriptAddress->empty()) proxy = askScript(address, scriptAddress->c_str());
    }
    if (!proxy) proxy = browserSettings().proxy;
    if (!proxy) proxy = machineDefaultProxy();
    return proxy;
}

}  // namespace

}  // namespace korvix

extern "C" JNIEXPORT jstring JNICALL Java_com_vyk_util_jni_Korvix_getProxyForURL(JNIEnv* env, jclass, jstring url,
                                                                               jstring autoConfigUrl,
                                                                               jboolean useSystemAutoConfigUrl,
                                                                               jboolean autoDetect) {
    return tavro::guardBoundary<jstring>(nullptr, [&]() -> jstring {
        korvix::ProxyQuestion question;
        question.url = korvix::javaStringFromUtf8(env, url);
        question.autoConfigUrl = korvix::javaStringFromUtf8(env, autoConfigUrl);
        if (env->ExceptionCheck()) return nullptr;  // the VM could not give the strings
        question.useSystemAutoConfigUrl = useSystemAutoConfigUrl != JNI_FALSE;
        question.autoDetect = autoDetect != JNI_FALSE;
        const std::optional<std::wstring> proxy = korvix::proxyFor(question);
        if (!proxy) return nullptr;
        return korvix::newStringFromUtf8(env, *proxy);
    });
}

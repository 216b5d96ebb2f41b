// An HTTP POST through libcurl: TLS verified as curl verifies it by default
// (the system's certificate store), timeouts on connecting and on the whole,
// http and https only, redirects followed only to https from https.
#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "quelvar_report/notify/channels.h"
#include "quelvar_report/notify/text.h"

namespace quelvar::report {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The host of an http or https URL, lower case; empty when it has none.
std::string hostOf(std::string_view url, std::string* scheme = nullptr) {
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle) return "";
    if (curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK) return "";
    char* part = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_HOST, &part, 0) != CURLUE_OK) return "";
    std::string host = part;
    curl_free(part);
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (scheme != nullptr && curl_url_get(handle.get(), CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        *scheme = part;
        curl_free(part);
    }
    return host;
}

std::size_t keep(char* data, std::size_t size, std::size_t count, void* answer) {
    auto& text = *static_cast<std::string*>(answer);
    const std::size_t bytes = size * count;
    // What a webhook answers is a short JSON object; more is not kept.
    if (text.size() < 65536) text.append(data, std::min(bytes, 65536 - text.size()));
    return bytes;
}

// The top-level "errcode" of a robot's answer, as written ("0"); empty when
// the answer is not a JSON object that has one.
std::string errcodeOf(std::string_view json) {
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\r' || json[i] == '\n')) ++i;
    };
    const auto readString = [&](std::string* out) {
        if (i >= json.size() || json[i] != '"') return false;
        for (++i; i < json.size(); ++i) {
            if (json[i] == '"') {
                ++i;
                return true;
            }
            if (json[i] == '\\') {
                if (out) *out += json[i];
                if (++i >= json.size()) return false;
            }
            if (out) *out += json[i];
        }
        return false;
    };
    // Any value: nested objects and arrays are counted through, strings skipped.
    const auto skipValue = [&] {
        int depth = 0;
        while (i < json.size()) {
            const char c = json[i];
            if (c == '"') {
                if (!readString(nullptr)) return false;
                if (depth == 0) return true;
                continue;
            }
            if (c == '{' || c == '[') ++depth;
            if (c == '}' || c == ']') {
                if (depth == 0) return true;
                if (--depth == 0) {
                    ++i;
                    return true;
                }
            }
            if (c == ',' && depth == 0) return true;
            ++i;
        }
        return depth == 0;
    };
    skipBlanks();
    if (i >= json.size() || json[i] != '{') return "";
    ++i;
    while (true) {
        skipBlanks();
        std::string key;
        if (!readString(&key)) return "";
        skipBlanks();
        if (i >= json.size() || json[i] != ':') return "";
        ++i;
        skipBlanks();
        if (key == "errcode") {
            const std::size_t start = i;
            if (i < json.size() && json[i] == '-') ++i;
            while (i < json.size() && json[i] >= '0' && json[i] <= '9') ++i;
            return std::string(json.substr(start, i - start));
        }
        if (!skipValue()) return "";
        skipBlanks();
        if (i >= json.size() || json[i] != ',') return "";
        ++i;
    }
}

void setUpCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The URL as an error shows it, which the journal and the index keep: a
// robot's key or token (its query) and a password are left out.
std::string shownUrl(const std::string& url) {
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return oneLine(url);
    char* query = nullptr;
    const bool hidden = curl_url_get(handle.get(), CURLUPART_QUERY, &query, 0) == CURLUE_OK;
    curl_free(query);
    curl_url_set(handle.get(), CURLUPART_QUERY, nullptr, 0);
    curl_url_set(handle.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(handle.get(), CURLUPART_PASSWORD, nullptr, 0);
    char* part = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_URL, &part, 0) != CURLUE_OK) return "";
    std::string shown = part;
    curl_free(part);
    return hidden ? shown + "?..." : shown;
}

Status webhookError(const std::string& url, std::string reason, int number = 0) {
    return Status::error(Status::Code::failed, "post", shownUrl(url), std::move(reason), number);
}

}  // namespace

std::string urlProblem(std::string_view url) {
    if (url.empty()) return "no URL";
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return "a URL cannot hold blanks or control characters";
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) return "not an http or https URL";
    if (hostOf(url).empty()) return "not a URL with a host";
    return "";
}

bool isRobotUrl(std::string_view url) {
    std::string scheme;
    const std::string host = hostOf(url, &scheme);
    return scheme == "https" && (host == "qyapi.weixin.qq.com" || host == "oapi.dingtalk.com");
}

Status deliverWebhook(const std::string& url, bool robot, const Message& message, const DeliveryOptions& options) {
    if (const std::string problem = urlProblem(url); !problem.empty()) return webhookError(url, problem);
    setUpCurl();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return Status::error(Status::Code::unavailable, "post", shownUrl(url), "libcurl could not start");
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8"));
    // No "Expect: 100-continue" round trip, which some receivers never answer.
    headers.reset(curl_slist_append(headers.release(), "Expect:"));
    const std::string body = robot ? robotBody(message.text) : message.json;
    std::string answer;
    char failure[CURL_ERROR_SIZE] = "";
    const long timeout = std::clamp(options.timeoutSeconds, 1L, 86400L);
    const bool secure = startsWithNoCase(url, "https://");
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, timeout);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "quelvar-report");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, failure);

    CURLcode result;
    {
        // A receiver that closes early must fail the delivery, not end the program.
        SigpipeHeld held;
        result = curl_easy_perform(handle);
    }

    if (result != CURLE_OK)
        return webhookError(url, failure[0] != '\0' ? failure : curl_easy_strerror(result), static_cast<int>(result));
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    std::string shown = oneLine(answer.substr(0, 300));
    if (code < 200 || code > 299)
        return webhookError(url, "answered " + std::to_string(code) + (shown.empty() ? "" : ": " + shown));
    if (robot) {
        const std::string errcode = errcodeOf(answer);
        if (errcode.empty()) return webhookError(url, "the robot's answer has no errcode: " + shown);
        if (errcode != "0") return webhookError(url, "the robot answered errcode " + errcode + ": " + shown);
    }
    return {};
}

}  // namespace quelvar::report

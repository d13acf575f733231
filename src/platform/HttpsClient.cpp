#include "platform/HttpsClient.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>

namespace platform {

namespace {

constexpr const char* kCurlLibrary = "libcurl.so.4";

// libcurl's entry points. The program is not linked with libcurl: loading it
// costs every start some milliseconds, and only OAuth sign-ins need it, so
// it is opened on the first request and stays for the rest of the process.
struct TCurlApi {
    decltype(&curl_global_init) GlobalInit = nullptr;
    decltype(&curl_easy_init) EasyInit = nullptr;
    decltype(&curl_easy_setopt) SetOpt = nullptr;
    decltype(&curl_easy_perform) Perform = nullptr;
    decltype(&curl_easy_getinfo) GetInfo = nullptr;
    decltype(&curl_easy_cleanup) Cleanup = nullptr;
    decltype(&curl_easy_strerror) StrError = nullptr;
    decltype(&curl_slist_append) SlistAppend = nullptr;
    decltype(&curl_slist_free_all) SlistFreeAll = nullptr;
};

template <typename F>
void Resolve(void* library, const char* name, F& entry)
{
    entry = reinterpret_cast<F>(::dlsym(library, name));
    if (!entry)
        throw EHttpsError(std::string("HTTPS is not available: ") + kCurlLibrary + " lacks " + name);
}

TCurlApi LoadCurl()
{
    void* library = ::dlopen(kCurlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = ::dlerror();
        throw EHttpsError(std::string("HTTPS is not available: ") + (why ? why : kCurlLibrary) +
                          " (Debian package libcurl4)");
    }
    TCurlApi api;
    Resolve(library, "curl_global_init", api.GlobalInit);
    Resolve(library, "curl_easy_init", api.EasyInit);
    Resolve(library, "curl_easy_setopt", api.SetOpt);
    Resolve(library, "curl_easy_perform", api.Perform);
    Resolve(library, "curl_easy_getinfo", api.GetInfo);
    Resolve(library, "curl_easy_cleanup", api.Cleanup);
    Resolve(library, "curl_easy_strerror", api.StrError);
    Resolve(library, "curl_slist_append", api.SlistAppend);
    Resolve(library, "curl_slist_free_all", api.SlistFreeAll);
    if (api.GlobalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        throw EHttpsError("HTTPS is not available: libcurl did not start");
    return api;
}

// Loaded once; a failed load is tried again by the next request.
const TCurlApi& Curl()
{
    static const TCurlApi api = LoadCurl();
    return api;
}

struct TReplyBody {
    std::string Text;
    bool TooLong = false;
};

std::size_t TakeReplyData(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& body = *static_cast<TReplyBody*>(user);
    const std::size_t bytes = size * count;
    if (body.Text.size() + bytes > MaxHttpsReply) {
        body.TooLong = true;
        return 0;  // ends the transfer
    }
    body.Text.append(data, bytes);
    return bytes;
}

class TCurlRequest {
public:
    TCurlRequest(const TCurlApi& api, const THttpsPost& request)
        : api_(api), request_(request), handle_(api.EasyInit(), api.Cleanup), headers_(nullptr, api.SlistFreeAll)
    {
        if (!handle_)
            throw EHttpsError(request.Url + ": libcurl could not start a request");
        errorText_[0] = '\0';
    }

    THttpsReply Perform()
    {
        Configure();
        const CURLcode result = api_.Perform(handle_.get());
        if (body_.TooLong)
            Fail("the reply is longer than " + std::to_string(MaxHttpsReply) + " bytes");
        if (result != CURLE_OK)
            Fail(errorText_[0] ? errorText_ : api_.StrError(result));
        THttpsReply reply;
        api_.GetInfo(handle_.get(), CURLINFO_RESPONSE_CODE, &reply.Status);
        reply.Body = std::move(body_.Text);
        return reply;
    }

private:
    [[noreturn]] void Fail(const std::string& why) const { throw EHttpsError(request_.Url + ": " + why); }

    template <typename T>
    void Set(CURLoption option, T value)
    {
        if (const CURLcode result = api_.SetOpt(handle_.get(), option, value); result != CURLE_OK)
            Fail(api_.StrError(result));
    }

    void Configure()
    {
        const long timeoutMs = static_cast<long>(request_.TimeoutMs);
        Set(CURLOPT_ERRORBUFFER, errorText_);
        Set(CURLOPT_URL, request_.Url.c_str());
        Set(CURLOPT_PROTOCOLS_STR, "https");
        Set(CURLOPT_FOLLOWLOCATION, 0L);
        Set(CURLOPT_NOSIGNAL, 1L);
        Set(CURLOPT_TIMEOUT_MS, timeoutMs);
        Set(CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
        Set(CURLOPT_SSL_VERIFYPEER, 1L);
        Set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!request_.CAFile.empty())
            Set(CURLOPT_CAINFO, request_.CAFile.c_str());
        if (!request_.UserAgent.empty())
            Set(CURLOPT_USERAGENT, request_.UserAgent.c_str());
        AddHeader("Content-Type: " + request_.ContentType);
        AddHeader("Accept: " + request_.Accept);
        Set(CURLOPT_HTTPHEADER, headers_.get());
        Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.Body.size()));
        Set(CURLOPT_POSTFIELDS, request_.Body.data());
        Set(CURLOPT_WRITEFUNCTION, &TakeReplyData);
        Set(CURLOPT_WRITEDATA, static_cast<void*>(&body_));
    }

    void AddHeader(const std::string& line)
    {
        curl_slist* list = api_.SlistAppend(headers_.get(), line.c_str());
        if (!list)
            Fail("out of memory");
        headers_.release();
        headers_.reset(list);
    }

    const TCurlApi& api_;
    const THttpsPost& request_;
    std::unique_ptr<CURL, decltype(TCurlApi::Cleanup)> handle_;
    std::unique_ptr<curl_slist, decltype(TCurlApi::SlistFreeAll)> headers_;
    TReplyBody body_;
    char errorText_[CURL_ERROR_SIZE];
};

} // namespace

THttpsReply HttpsPost(const THttpsPost& request)
{
    if (!LowerAscii(request.Url).starts_with("https://"))
        throw EHttpsError(request.Url + ": not an https URL");
    if (!request.CAFile.empty() && !FileExists(request.CAFile))
        throw EHttpsError(request.Url + ": CA file " + request.CAFile + " not found");
    return TCurlRequest(Curl(), request).Perform();
}

} // namespace platform

// Address lists as the job script writes them: splitting into recipients
// and each recipient into name and address.
#include "FuzzCheck.h"
#include "platform/TextUtil.h"
#include "smtp/SmtpAddress.h"
#include "smtp/SmtpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::Bytes(data, size);
    std::vector<std::string> items;
    smtp::SplitAddressList(text, items);
    std::size_t total = 0;
    for (const std::string& item : items) {
        FUZZ_CHECK(!item.empty() && item == platform::Trim(item));
        total += item.size();
        const smtp::TMailAddress address = smtp::ParseAddress(item);
        FUZZ_CHECK(address.Address.size() + address.DisplayName.size() <= item.size());
    }
    FUZZ_CHECK(total <= text.size());  // nothing made up

    // The To, Cc and Bcc texts of one mail, cut from the input at NUL bytes.
    const auto [to, rest] = fuzz::SplitAtNul(text);
    const auto [cc, bcc] = fuzz::SplitAtNul(rest);
    smtp::TCustomSmtpClient client;
    client.ParseRecipients(to, cc, bcc);
    for (const std::string& rcpt : client.RcptName)
        FUZZ_CHECK(!rcpt.empty());
    return 0;
}

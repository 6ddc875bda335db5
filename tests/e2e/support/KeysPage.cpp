#include "e2e/support/KeysPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "e2e/support/Browser.h"
#include "e2e/support/FormServer.h"

namespace e2e {

using namespace std::chrono_literals;

bool InstallKeysPageLibraries() {
    std::string log;
    const bool ok = FormServer::InstallNpm({"imask@7.6.1"}, &log);
    EXPECT_TRUE(ok) << log;
    return ok;
}

void FillAndCheckTheKeysPage(BrowserSession& b,
                             const std::function<void(const std::string&, const std::string&)>& fill,
                             const FormServer& server) {
    const int before = server.LastSeq();
    fill("l-zip", "1000001");
    fill("l-tel", "09012345678");
    fill("l-digits", "0312345678");
    fill("l-name", "山田 Taro+x 😀~");
    std::optional<Event> sent = b.WaitSubmission(before, 15s);
    std::string seen;
    for (const Event& e : server.Events())
        if (e.seq > before && (e.kind == "keydown" || e.kind == "focus")) seen += e.raw + "\n";
    ASSERT_TRUE(sent) << "the form was not submitted\n" << seen;
    EXPECT_EQ(sent->fields["zip"], "100-0001") << sent->raw;
    EXPECT_EQ(sent->fields["tel"], "090-1234-5678") << sent->raw;
    EXPECT_EQ(sent->fields["digits"], "0312345678") << sent->raw;
    EXPECT_EQ(sent->fields["name"], "山田 TaroX 😀") << sent->raw << "\n" << seen;

    std::vector<Event> keys;
    for (const Event& e : server.Events())
        if (e.seq > before && e.kind == "keydown" && e.tag == b.tag()) keys.push_back(e);
    std::sort(keys.begin(), keys.end(), [](const Event& x, const Event& y) {
        return std::stoi(x.fields.at("n")) < std::stoi(y.fields.at("n"));
    });
    std::map<std::string, std::string> typedInto;
    for (const Event& k : keys) {
        EXPECT_NE(k.text, std::string(1, '\0')) << k.raw;
        EXPECT_NE(k.text, "Unidentified") << k.raw;
        if (k.text.size() == 1 && k.fields.at("ctrl") == "false")
            typedInto[k.fields.at("target")] += k.text;
    }
    EXPECT_EQ(typedInto["zip"], "1000001");
    EXPECT_EQ(typedInto["tel"], "09012345678");
    EXPECT_EQ(typedInto["digits"], "0312345678");
    EXPECT_EQ(typedInto["name"], " TaroX ") << "the kanji and the emoji come as a paste";
}

}  // namespace e2e

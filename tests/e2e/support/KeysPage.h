// The keys page (pages/keys.html) as Japanese forms are built: 郵便番号 and 電話番号 boxes
// formatted by an input-mask library from npm, a box that takes only what its keydown reports
// as a digit, and a name with kanji and an emoji. Filled by whatever road a test drives.
#pragma once

#include <functional>
#include <string>

namespace e2e {

class BrowserSession;
class FormServer;

inline constexpr const char* kKeysPage = "keys.html";
inline constexpr const char* kKeysPageTitle = "キー入力の確認";

// Installs the page's libraries from npm (once per build tree); false, with a test failure
// naming npm's output, when it cannot.
bool InstallKeysPageLibraries();

// Fills each box through `fill(labelId, text)` and checks that each ends exactly as its entry
// says and that every key the page saw on keydown is the true one.
void FillAndCheckTheKeysPage(BrowserSession& b,
                             const std::function<void(const std::string&, const std::string&)>& fill,
                             const FormServer& server);

}  // namespace e2e

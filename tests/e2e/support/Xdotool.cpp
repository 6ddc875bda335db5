#include "e2e/support/Xdotool.h"

#include <sstream>
#include <vector>

#include "e2e/support/Process.h"
#include "e2e/support/Util.h"

namespace e2e {

static void RunXdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p(argv, {});
    if (!WaitUntil([&] { return !p.Running(); }, 60s)) throw Error("xdotool did not finish");
}

void XdoType(const std::string& text, int delayMs) {
    RunXdotool({"type", "--delay", std::to_string(delayMs), "--", text});
}

void XdoKey(const std::string& keys) {
    // One argument per key, as a shell would split "a i u e o".
    std::vector<std::string> args = {"key", "--"};
    std::istringstream in(keys);
    for (std::string k; in >> k;) args.push_back(k);
    RunXdotool(args);
}

}  // namespace e2e

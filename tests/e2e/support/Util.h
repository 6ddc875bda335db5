// Small pieces the end-to-end harness shares: waiting on a condition, and the file and error
// helpers its classes have in common.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Polls `done` every `step` until it holds (true) or `timeout` has passed (false).
bool WaitFor(const std::function<bool()>& done, Millis timeout, Millis step = 20ms);

// The harness's own failures, marked as such.
std::runtime_error Error(const std::string& what);

// The whole file; "" when it cannot be read.
std::string ReadText(const std::filesystem::path& p);
// Replaces the file's content; throws when it cannot.
void WriteFile(const std::filesystem::path& p, const std::string& text);
// The last `n` bytes, enough of a log for a failure message.
std::string Tail(const std::string& s, std::size_t n = 3000);

// The source tree: the pages, the form server and the session script live there.
std::filesystem::path SourceDir();
// Where scratch directories go: the private work directory of with-x.sh when there is one.
std::filesystem::path ScratchBase();

}  // namespace e2e

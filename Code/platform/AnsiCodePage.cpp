#include "platform/AnsiCodePage.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`; on an unconvertible sequence calls onBad(out), which may append a
    // replacement and return true to go on past `skip` bytes, or return false to give up.
    template <typename OnBad>
    bool Run(std::string_view in, std::string& out, OnBad onBad) {
        out.clear();
        out.reserve(in.size() * 3 / 2 + 16);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buf[8192];
        while (true) {
            char* dst = buf;
            size_t dstLeft = sizeof buf;
            size_t r = srcLeft ? iconv(cd_, &src, &srcLeft, &dst, &dstLeft)
                               : iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
            out.append(buf, static_cast<size_t>(dst - buf));
            if (r != static_cast<size_t>(-1)) {
                if (srcLeft == 0) return true;
                continue;
            }
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated sequence at the end).
            if (!onBad(out)) return false;
            ++src;
            --srcLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> ToAnsi(std::string_view utf8) {
    Converter c("CP932", "UTF-8");
    if (!c.ok()) return std::nullopt;
    std::string out;
    if (!c.Run(utf8, out, [](std::string&) { return false; })) return std::nullopt;
    return out;
}

std::string FromAnsi(std::string_view bytes) {
    Converter c("UTF-8", "CP932");
    std::string out;
    if (!c.ok()) return std::string(bytes);
    c.Run(bytes, out, [](std::string& o) {
        o += "\xEF\xBF\xBD";
        return true;
    });
    return out;
}

}  // namespace platform

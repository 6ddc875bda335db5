// The system's reason for a failure, as a message shows it: short Japanese words for the
// errors a user meets, the C library's own text for the rare rest. Header-only, so that the
// platform folders can use it too.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

inline std::string SystemReason(int err) {
    switch (err) {
        case ENOENT:
            return "見つかりません";
        // The settings store gives these for a settings file that is not a regular file and
        // for one that is not text.
        case EINVAL:
            return "ファイルの種類が正しくありません";
        case EILSEQ:
            return "文字コードまたは形式が正しくありません";
        case EACCES:
        case EPERM:
            return "アクセス権がありません";
        case ENOSPC:
            return "ディスクの空きがありません";
        case EROFS:
            return "読み取り専用です";
        case EIO:
            return "入出力エラーです";
        case EISDIR:
            return "フォルダーです";
        default:
            return std::strerror(err);
    }
}

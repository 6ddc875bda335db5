// The titles of the program's message boxes.
#pragma once

inline constexpr const char* AppTitle = "Penrika";
inline constexpr const char* ErrorTitle = "Penrika：エラー";

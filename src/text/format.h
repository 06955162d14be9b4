#pragma once
// printf-style formatting into std::string; the log and the user-facing
// texts keep their printf format strings.
#include <cstdarg>
#include <string>

namespace kv::text {

#if defined(__GNUC__)
#define KV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KV_PRINTF(fmt, args)
#endif

std::string Format(const char* fmt, ...) KV_PRINTF(1, 2);
std::string FormatV(const char* fmt, va_list args);

}  // namespace kv::text

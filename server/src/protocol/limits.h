#pragma once
// What a single request may carry; anything beyond is refused whole.
#include <cstddef>

namespace kv::server {

struct RequestLimits {
  std::size_t max_body = 8u << 20;            // one HTTP request body
  std::size_t max_fields = 64;                // form fields per request
  std::size_t max_field = 1u << 20;           // one plain form value
  std::size_t max_archive_entries = 512;      // uploaded archives (icons: one per program)
  std::size_t max_entry_size = 4u << 20;      // one inflated archive entry
  std::size_t max_programs = 5000;            // programs in one report
  std::size_t max_text = 4096;                // a name, publisher, version ... in a report
  std::size_t max_comment = 4000;             // bytes of one comment
};

}  // namespace kv::server

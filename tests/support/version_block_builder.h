#pragma once
// The builder lives with the fake machine; tests may keep calling it kv::testing.
#include "platform/fake/version_block_builder.h"

namespace kv {
namespace testing = platform;
}  // namespace kv

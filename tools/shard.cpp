#include "tools/shard.h"

#include <climits>
#include <optional>

#include "common/fatal_error.h"
#include "tools/command_support.h"

namespace labeler::tool {

Shard ParseShard(const std::string& text) {
  auto refuse = [&text](const std::string& problem) {
    return FatalError(ErrorLine("--shard takes K/N, job K of N counted from 0, not '" + text + "': " + problem));
  };
  const size_t slash = text.find('/');
  if (slash == std::string::npos) throw refuse("there is no '/'");
  const std::optional<int> index = ParseInt(text.substr(0, slash).c_str(), INT_MIN, INT_MAX);
  const std::optional<int> count = ParseInt(text.substr(slash + 1).c_str(), INT_MIN, INT_MAX);
  if (!index || !count) throw refuse("K and N must be whole numbers");
  if (*count < 1) throw refuse("N must be at least 1");
  if (*index < 0 || *index >= *count) throw refuse("K must be from 0 to N - 1");
  return {*index, *count};
}

}  // namespace labeler::tool

#include "lib/test_hooks.h"

#ifdef VORNEL_TEST_HOOKS

#include <stdexcept>
#include <string>

namespace vornel::lib::test_hooks {
namespace {

constexpr std::string_view kPrefix = "!fault:";

// Thrown for "transform-unknown": anything that does not derive from
// std::exception takes the containment's last resort.
struct UnknownFault {};

struct Request {
  std::string_view directive;
  std::string_view text;
};

bool parse(std::string_view payload, Request& request) {
  if (!payload.starts_with(kPrefix)) return false;
  payload.remove_prefix(kPrefix.size());
  const size_t colon = payload.find(':');
  if (colon == std::string_view::npos) return false;
  request = {payload.substr(0, colon), payload.substr(colon + 1)};
  return true;
}

}  // namespace

void fault_if_requested(FaultSite site, std::string_view text) {
  Request request;
  if (!parse(text, request)) return;
  const std::string message(request.text);
  switch (site) {
    case FaultSite::transform:
      if (request.directive == "transform") throw std::runtime_error(message);
      if (request.directive == "transform-unknown") throw UnknownFault{};
      return;
    case FaultSite::entry:
      if (request.directive == "entry") throw std::runtime_error(message);
      return;
    case FaultSite::reporting:
      if (request.directive == "reporting") throw std::runtime_error(message);
      return;
  }
}

}  // namespace vornel::lib::test_hooks

#endif

#include "lib/test_hooks.h"

#ifdef VORNEL_TEST_HOOKS

#include <charconv>
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

AllocationFailures::AllocationFailures(std::string_view text) noexcept : AllocationFailures(parse_request(text)) {}

AllocationFailures::AllocationFailures(const Parsed& parsed) noexcept
    : payload_(parsed.payload), failing_(parsed.nth, parsed.persistent) {}

// "!fault:allocation:N:TEXT" or "!fault:allocations:N:TEXT" with N a
// decimal count; anything else requests nothing and stays the payload.
AllocationFailures::Parsed AllocationFailures::parse_request(std::string_view text) noexcept {
  const Parsed none{text};
  Request request;
  if (!parse(text, request) || (request.directive != "allocation" && request.directive != "allocations")) {
    return none;
  }
  Parsed parsed;
  parsed.persistent = request.directive == "allocations";
  const char* const end = request.text.data() + request.text.size();
  const auto [after, error] = std::from_chars(request.text.data(), end, parsed.nth);
  if (error != std::errc() || after == end || *after != ':') return none;
  parsed.payload = std::string_view(after + 1, static_cast<size_t>(end - after - 1));
  return parsed;
}

}  // namespace vornel::lib::test_hooks

#endif

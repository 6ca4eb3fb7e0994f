// zirko_util end to end, reading the EEPROM: dump, peek and space.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"DumpOfSeveralLines", kGen3 + kTwoKeys,
     {
      {{"dump", "20"}, "Reading:\n0000   00 11 36 06 00 01 00 AA  AA 00 04 02 00 BB BB 00 \n0010   3E FF FF FF FF \n"},
      {{"peek", "99999"}, "", 2, "[E] peek(#): address must be 0 to 1023: 99999\n"},
      {{"dump", "1024"}, "", 2, "[E] dump(#): address must be 0 to 1023: 1024\n"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

}  // namespace

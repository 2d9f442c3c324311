#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "outside/Dictionary.h"
#include "outside/Dispatch.h"
#include "outside/calendar/FiscalTerm.h"
#include "outside/numbering/Numerist.h"

namespace closewright {
namespace {

// The library's own class and the outside components' stand-ins are creatable by ProgID as soon as the
// library is loaded; a host may register replacements over them.
const bool registered = [] {
  ClassRegistry& registry = ClassRegistry::Instance();
  registry.Register(std::string(kCloseDataProgId), [] { return std::make_shared<CCloseData>(); });
  registry.Register(std::string(kCalendarProgId), [] { return std::make_shared<FiscalTerm>(); });
  registry.Register("Scripting.Dictionary", [] { return std::make_shared<Dictionary>(); });
  RegisterNumberingComponent(registry);
  return true;
}();

}  // namespace
}  // namespace closewright

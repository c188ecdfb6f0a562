// The test plug-in library routing-test-plugin: a plug-in that exposes the catalog of
// routing_catalog.h through its export table, as a real plug-in exposes its functions.
#include <memory>

#include "binding/routing/function_table.h"
#include "plugin/plugin_base.h"
#include "plugin/plugin_entry.h"
#include "routing_catalog.h"

namespace mau::test {

class RoutingTestPlugin : public PluginBase {
 public:
  void RegisterTypes() override {
    functions_ = std::make_unique<FunctionTable>(Registry(), this);
    ExposeCatalog(*functions_, catalog_);
    for (const PluginFunctionEntry& entry : functions_->BuildEntries()) {
      ExportTables().AddFunction(entry);
    }
  }

 private:
  Catalog catalog_;
  std::unique_ptr<FunctionTable> functions_;
};

}  // namespace mau::test

MAU_DEFINE_PLUGIN_EXPORT(mau::test::RoutingTestPlugin, "mau-routing-test");

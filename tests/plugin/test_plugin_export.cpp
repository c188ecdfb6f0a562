// The export of the test plug-in library.
#include "plugin/plugin_entry.h"
#include "test_plugin.h"

MAU_DEFINE_PLUGIN_EXPORT(mau::test::TestPlugin, "mau-test-plugin");

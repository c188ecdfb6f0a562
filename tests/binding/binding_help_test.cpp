#include "binding/binding_help.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/record_builder.h"
#include "binding/type_registry.h"
#include "binding/value_dump.h"

namespace mau {
namespace {

using test::Dump;

enum class Lane : int32_t { Top = 3, Bottom = 1, Middle = 2 };

struct Spot {
  int32_t x = 0;
  std::vector<Lane> lanes;
};

class BindingHelpTest : public testing::Test {
 protected:
  BindingHelpTest() {
    RegisterBuiltinTypes(registry_);
    registry_.Enum<Lane>("Lane")
        .Description("-Lanes {of} the map")
        .Value("Top", Lane::Top, "upper")
        .Value("Bottom", Lane::Bottom)
        .Value("Middle", Lane::Middle, "center");
    registry_.Record<Spot>("Spot")
        .Description("A place.")
        .Tag("map")
        .Tag("game")
        .Field("x", &Spot::x, "-Column {0}")
        .Field("lanes", &Spot::lanes, "Lanes");
    function_.name = "Move";
    function_.description = "-Moves {a} unit";
    function_.help = "Longer help.";
    function_.parameters = {
        {"to", "Target {spot}", TypeRefOf<Spot>(registry_), true},
        {"speed", "", TypeRefOf<double>(registry_), false},
    };
    function_.resultType = TypeRefOf<std::vector<Lane>>(registry_);
    function_.tags = {"unit", "map"};
    function_.threadSafe = true;
    function_.registry = &registry_;
  }

  BindingValue Help(BindingHelpFormat format, bool withItems = true) {
    BindingResult result;
    std::vector<const BindingFunctionDescriptor*> functions;
    std::vector<const BindingTypeDescriptor*> types;
    std::vector<const BindingEventDescriptor*> events;
    if (withItems) {
      functions = {&function_};
      types = {registry_.FindType("Spot"), registry_.FindType("Lane")};
      events = registry_.Events();
    }
    BuildHelp(result, functions, types, events, format, registry_);
    EXPECT_TRUE(result.ok()) << result.ErrorText();
    return result.value();
  }

  BindingTypeRegistry registry_;
  BindingFunctionDescriptor function_;
};

TEST_F(BindingHelpTest, BuiltinTypesAndEventInOrderWithTags) {
  std::vector<std::string> names;
  for (const BindingTypeDescriptor* type : registry_.Types()) {
    if (type->name == "Lane" || type->name == "Spot") continue;
    std::string tags;
    for (const std::string& tag : type->tags) tags += tag + ",";
    names.push_back(type->name + ":" + tags);
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "BindingHelpFormat:$builtin,help,",
                       "BindingFullTypeIdentifier:$builtin,help,",
                       "BindingFullArgumentHelp:$builtin,help,",
                       "BindingFullFunctionHelp:$builtin,help,",
                       "BindingFullEnumValueHelp:$builtin,help,",
                       "BindingFullFieldHelp:$builtin,help,",
                       "BindingFullTypeHelp:$builtin,help,",
                       "BindingFullEventHelp:$builtin,help,",
                       "BindingFullApiHelp:$builtin,help,",
                       "BindingAsyncState:$builtin,async,",
                       "BindingGenericEvent:$builtin,",
                       "BindingCallbackEvent:$builtin,",
                       "BindingGenericAsyncEvent:$builtin,async,",
                       "BindingAsyncFailureEvent:$builtin,async,",
                       "BindingAsyncCancelEvent:$builtin,async,",
                   }));
  const BindingEventDescriptor* onCallback = registry_.FindEvent("OnCallback");
  ASSERT_NE(onCallback, nullptr);
  EXPECT_EQ(onCallback->payload, registry_.FindType("BindingCallbackEvent"));
  // Registering again changes nothing.
  const size_t count = registry_.Types().size();
  RegisterBuiltinTypes(registry_);
  EXPECT_EQ(registry_.Types().size(), count);
}

TEST_F(BindingHelpTest, EpytextTexts) {
  const BindingValue help = Help(BindingHelpFormat::Epytext);
  EXPECT_EQ(TypeEpytext(*registry_.FindType("BindingAsyncState")),
            "Possible states of an asynchronous operation.\r\n\r\n"
            "@cvar None: (0) Invalid state\r\n"
            "@cvar Running: (1) The operation is in flight\r\n"
            "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
            "@cvar Cancelled: (3) The operation was cancelled\r\n"
            "@cvar Succeeded: (4) The operation completed successfully\r\n"
            "@cvar Failed: (5) The operation encountered an error\r\n"
            "@tags: $builtin,async\r\n"
            "@size: 4\r\n");
  EXPECT_EQ(help.Member("types").Member("Lane").AsString(),
            "E{-}Lanes E{lb}ofE{rb} the map\r\n\r\n"
            "@cvar Bottom: (1)\r\n"
            "@cvar Middle: (2) center\r\n"
            "@cvar Top: (3) upper\r\n"
            "@size: 4\r\n");
  EXPECT_EQ(help.Member("types").Member("Spot").AsString(),
            "A place.\r\n\r\n"
            "@ivar x: -Column {0}\r\n"
            "@type x: int32\r\n"
            "@ivar lanes: Lanes\r\n"
            "@type lanes: list[L{Lane}]\r\n"
            "@tags: map,game\r\n");
  EXPECT_EQ(help.Member("functions").Member("Move").AsString(),
            "E{-}Moves E{lb}aE{rb} unit\r\n\r\n"
            "Longer help.\r\n\r\n"
            "@param to: (optional) Target E{lb}spotE{rb}\r\n"
            "@type to: L{Spot}\r\n"
            "@type speed: double\r\n"
            "@rtype: list[L{Lane}]\r\n"
            "@tags: unit,map\r\n"
            "@threadsafe: true\r\n");
  EXPECT_EQ(help.Member("events").Member("OnCallback").AsString(),
            "Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n");
}

TEST_F(BindingHelpTest, FullRecords) {
  const BindingValue help = Help(BindingHelpFormat::Full);
  EXPECT_EQ(
      Dump(help.Member("functions")),
      R"([{arguments:[{description:"Target {spot}",name:"to",optional:true,type:{elementType:"",type:"Spot"}},)"
      R"({description:"",name:"speed",optional:false,type:{elementType:"",type:"double"}}],)"
      R"(async:"",description:"-Moves {a} unit",help:"Longer help.",name:"Move",nameSpace:"",)"
      R"(returns:{elementType:"Lane",type:"vector"},tags:["unit","map"],threadSafe:true}])");
  // Items come sorted by name; enum values in name order.
  const BindingValue& types = help.Member("types");
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types.Element(0).Member("name").AsString(), "Lane");
  EXPECT_EQ(
      Dump(types.Element(0).Member("values")),
      R"([{description:"",name:"Bottom",value:i:1},{description:"center",name:"Middle",value:i:2},)"
      R"({description:"upper",name:"Top",value:i:3}])");
  EXPECT_EQ(
      Dump(types.Element(1).Member("fields")),
      R"([{description:"-Column {0}",name:"x",offset:u:0,optional:false,type:{elementType:"",type:"int32"}},)"
      R"({description:"Lanes",name:"lanes",offset:u:)" +
          std::to_string(offsetof(Spot, lanes)) +
          R"(,optional:false,type:{elementType:"Lane",type:"vector"}}])");
  EXPECT_EQ(Dump(help.Member("events")),
            R"([{description:"Fired when a callback is invoked.",name:"OnCallback",nameSpace:"",)"
            R"(tags:["$builtin"],type:{elementType:"",type:"BindingCallbackEvent"}}])");
}

TEST_F(BindingHelpTest, OtherFormatsAndEmptyListsGiveEmptyMembers) {
  const char* kEmpty = "{events:null,functions:null,types:null}";
  EXPECT_EQ(Dump(Help(static_cast<BindingHelpFormat>(0))), kEmpty);
  EXPECT_EQ(Dump(Help(static_cast<BindingHelpFormat>(3))), kEmpty);
  EXPECT_EQ(Dump(Help(BindingHelpFormat::Full, false)), kEmpty);
  EXPECT_EQ(Dump(Help(BindingHelpFormat::Epytext, false)), kEmpty);
}

}  // namespace
}  // namespace mau

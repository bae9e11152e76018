// A refusal of the host laid over the component's error state, each field giving way when the
// component next writes or clears it.
#include "bridge/error_overlay.h"

#include <gtest/gtest.h>

namespace quillbox::bridge {
namespace {

JsonValue Component(long number, JsonValue name, JsonValue description) {
  return JsonValue(JsonObject{{u"ErrorNo", JsonValue(number)}, {u"ErrorStr", std::move(name)},
                              {u"ErrorDesc", std::move(description)}});
}

double No(const JsonValue& state) { return *state.Member(u"ErrorNo")->Number(); }
const JsonValue& Str(const JsonValue& state) { return *state.Member(u"ErrorStr"); }
const JsonValue& Desc(const JsonValue& state) { return *state.Member(u"ErrorDesc"); }

TEST(ErrorOverlay, ShowsTheComponentsStateUntilARefusal) {
  ErrorOverlay overlay;
  const JsonValue state = overlay.Apply(Component(13, JsonValue(u"ERR_PARSING_XML"), JsonValue()));
  EXPECT_EQ(No(state), 13);
  EXPECT_EQ(*Str(state).String(), u"ERR_PARSING_XML");
  overlay.Refuse(41, u"ERR_ACCESS_DENIED", u"no");
  const JsonValue refused = overlay.Apply(Component(13, JsonValue(u"ERR_PARSING_XML"), JsonValue(u"old")));
  EXPECT_EQ(No(refused), 41);
  EXPECT_EQ(*Str(refused).String(), u"ERR_ACCESS_DENIED");
  EXPECT_EQ(*Desc(refused).String(), u"no");
}

TEST(ErrorOverlay, EachFieldGivesWayToTheEventThatWouldReplaceIt) {
  // A new object or Finalize: the component empties name and description, the number stays ours.
  for (const bool finalize : {false, true}) {
    ErrorOverlay overlay;
    overlay.Refuse(41, u"ERR_ACCESS_DENIED", u"no");
    if (finalize) overlay.Finalized();
    else overlay.ObjectCreated();
    const JsonValue state = overlay.Apply(Component(13, JsonValue(), JsonValue()));
    EXPECT_EQ(No(state), 41);
    EXPECT_TRUE(Str(state).IsNull());
    EXPECT_TRUE(Desc(state).IsNull());
  }
  // A picker closed without a choice writes number and name; our description stays.
  ErrorOverlay picked;
  picked.Refuse(41, u"ERR_ACCESS_DENIED", u"no");
  picked.ErrorRecorded();
  const JsonValue recorded = picked.Apply(Component(40, JsonValue(u"ERR_NO_CERT_SELECTED"), JsonValue()));
  EXPECT_EQ(No(recorded), 40);
  EXPECT_EQ(*Str(recorded).String(), u"ERR_NO_CERT_SELECTED");
  EXPECT_EQ(*Desc(recorded).String(), u"no");
  // Sign and Transform clear everything.
  picked.ErrorStateCleared();
  const JsonValue cleared = picked.Apply(Component(0, JsonValue(), JsonValue()));
  EXPECT_EQ(No(cleared), 0);
  EXPECT_TRUE(Desc(cleared).IsNull());
}

}  // namespace
}  // namespace quillbox::bridge

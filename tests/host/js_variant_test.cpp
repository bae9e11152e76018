#include "host/dispatch.h"
#include "host/js_engine.h"
#include "host/js_variant.h"
#include "host/script_host.h"
#include "host/text.h"

#include "host/fake_dispatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace quillbox::host::js {
namespace {

class JsVariantTest : public ::testing::Test {
 protected:
  JsVariantTest() : engine_(state_) {}
  duk_context* ctx() { return engine_.context(); }

  // Evaluates `code` and converts its value.
  Variant Eval(const char* code) {
    duk_eval_string(ctx(), code);
    Variant value = ToVariant(ctx(), -1);
    duk_pop(ctx());
    return value;
  }

  // Pushes `value`, stores it in the global `v`, and returns what `code` makes of it, as text.
  std::string Check(const VARIANT& value, const char* code) {
    PushVariant(ctx(), value);
    duk_put_global_string(ctx(), "v");
    duk_eval_string(ctx(), code);
    duk_size_t length = 0;
    const char* bytes = duk_safe_to_lstring(ctx(), -1, &length);
    std::string text(bytes, length);
    duk_pop(ctx());
    return text;
  }

  HostState state_;
  Engine engine_;
};

TEST_F(JsVariantTest, NumbersPassAsI4WhenTheyFitAndR8Otherwise) {
  Variant small = Eval("42");
  EXPECT_EQ(small->vt, VT_I4);
  EXPECT_EQ(small->lVal, 42);
  EXPECT_EQ(Eval("-2147483648")->vt, VT_I4);
  Variant big = Eval("2147483648");
  EXPECT_EQ(big->vt, VT_R8);
  EXPECT_EQ(big->dblVal, 2147483648.0);
  EXPECT_EQ(Eval("1.5")->vt, VT_R8);
  EXPECT_EQ(Eval("-0")->vt, VT_R8);  // negative zero would lose its sign as an integer
  EXPECT_EQ(Eval("NaN")->vt, VT_R8);
}

TEST_F(JsVariantTest, BooleansNullUndefinedAndStrings) {
  Variant yes = Eval("true");
  EXPECT_EQ(yes->vt, VT_BOOL);
  EXPECT_EQ(yes->boolVal, VARIANT_TRUE);
  EXPECT_EQ(Eval("false")->boolVal, VARIANT_FALSE);
  EXPECT_EQ(Eval("null")->vt, VT_NULL);
  EXPECT_EQ(Eval("undefined")->vt, VT_EMPTY);
  Variant text = Eval("'a\\u0000b\\u017D\\uD83D\\uDE00'");
  ASSERT_EQ(text->vt, VT_BSTR);
  EXPECT_EQ(BstrView(text->bstrVal), std::u16string_view(u"a\0bŽ\U0001F600", 6));
}

TEST_F(JsVariantTest, PlainObjectsAreATypeMismatch) {
  duk_eval_string(ctx(), "({a: 1})");
  try {
    ToVariant(ctx(), -1);
    FAIL() << "no error";
  } catch (const ComError& error) {
    EXPECT_EQ(error.status(), DISP_E_TYPEMISMATCH);
  }
  duk_pop(ctx());
}

TEST_F(JsVariantTest, DatesRoundTripThroughOleDates) {
  Variant date = Eval("new Date(Date.UTC(2000, 0, 1, 12, 0, 0))");
  ASSERT_EQ(date->vt, VT_DATE);
  EXPECT_DOUBLE_EQ(date->date, 36526.5);  // OLE date of 1 January 2000, noon
  VARIANT before{};
  before.vt = VT_DATE;
  before.date = -1.25;  // 29 December 1899, 06:00
  EXPECT_EQ(Check(before, "v.toISOString()"), "1899-12-29T06:00:00.000Z");
}

TEST_F(JsVariantTest, ResultsReadAsJScriptReadThem) {
  VARIANT value{};
  value.vt = VT_BSTR;
  value.bstrVal = nullptr;
  EXPECT_EQ(Check(value, "typeof v + ':' + v.length"), "string:0");
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  EXPECT_EQ(Check(value, "typeof v + ':' + v"), "boolean:true");
  value.vt = VT_UI4;
  value.ulVal = 4294967295u;
  EXPECT_EQ(Check(value, "String(v)"), "4294967295");
  value.vt = VT_UINT;
  value.uintVal = 3000000000u;
  EXPECT_EQ(Check(value, "String(v)"), "3000000000");
  value.vt = VT_I2;
  value.iVal = -7;
  EXPECT_EQ(Check(value, "String(v)"), "-7");
  value.vt = VT_I4;
  value.lVal = -2147483647 - 1;
  EXPECT_EQ(Check(value, "String(v)"), "-2147483648");
  value.vt = VT_CY;
  value.cyVal.int64 = 12345;
  EXPECT_EQ(Check(value, "String(v)"), "1.2345");
  value.vt = VT_EMPTY;
  EXPECT_EQ(Check(value, "typeof v"), "undefined");
  value.vt = VT_NULL;
  EXPECT_EQ(Check(value, "v === null"), "true");
}

TEST_F(JsVariantTest, BstrWithNulKeepsItsFullLength) {
  Variant value = MakeString(std::u16string_view(u"x\0y", 3));
  EXPECT_EQ(Check(*value.get(), "v.length + ':' + v.charCodeAt(1)"), "3:0");
}

TEST_F(JsVariantTest, ByReferenceValuesAreFollowed) {
  LONG number = 17;
  VARIANT value{};
  value.vt = VT_I4 | VT_BYREF;
  value.plVal = &number;
  EXPECT_EQ(Check(value, "String(v)"), "17");
}

TEST_F(JsVariantTest, ArraysAreRefused) {
  VARIANT value{};
  value.vt = VT_ARRAY | VT_I4;
  EXPECT_THROW(PushVariant(ctx(), value), ComError);
}

// The dispatch glue, over an object without type information.
class JsDispatchTest : public ::testing::Test {
 protected:
  int Run(const char* code) {
    errors_ = std::tmpfile();
    output_ = std::tmpfile();
    state_.err = errors_;
    state_.out = output_;
    Engine engine(state_);
    PushDispatch(engine.context(), &object_);
    duk_put_global_string(engine.context(), "obj");
    // The same entry a script file takes, minus ActiveXObject's activation.
    duk_push_string(engine.context(), "test.js");
    int status = 0;
    if (duk_pcompile_string_filename(engine.context(), 0, code) != 0 || duk_pcall(engine.context(), 0) != 0) {
      message_ = Utf16ToUtf8(ToDisplayText(engine.context(), -1));
      status = 1;
    } else {
      output_text_ = Utf16ToUtf8(ToDisplayText(engine.context(), -1));
    }
    duk_pop(engine.context());
    return status;
  }
  void TearDown() override {
    if (errors_ != nullptr) std::fclose(errors_);
    if (output_ != nullptr) std::fclose(output_);
  }

  test::FakeDispatch object_;
  HostState state_;
  std::FILE* errors_ = nullptr;
  std::FILE* output_ = nullptr;
  std::string message_;
  std::string output_text_;
};

TEST_F(JsDispatchTest, PropertyPutAndGetByName) {
  ASSERT_EQ(Run("obj.Text = 'Žiga'; obj.Text"), 0) << message_;
  EXPECT_EQ(output_text_, "Žiga");
  EXPECT_EQ(object_.text, u"Žiga");
  EXPECT_EQ(object_.lastFlags, DISPATCH_PROPERTYGET);
}

TEST_F(JsDispatchTest, PutIsAPropertyPutWithTheNamedArgument) {
  ASSERT_EQ(Run("obj.Text = 'a\\u0000b'; 1"), 0) << message_;
  EXPECT_EQ(object_.lastFlags, DISPATCH_PROPERTYPUT);
  EXPECT_TRUE(object_.lastNamedPut);
  EXPECT_EQ(object_.text, std::u16string(u"a\0b", 3));
}

TEST_F(JsDispatchTest, MethodCallPassesArgumentsInOrderWithMethodAndGetFlags) {
  ASSERT_EQ(Run("obj.Join(7, 'x')"), 0) << message_;
  EXPECT_EQ(output_text_, "joined");
  EXPECT_EQ(object_.lastFlags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  ASSERT_EQ(object_.lastArguments.size(), 2u);
  EXPECT_EQ(object_.lastArguments[0].vt, VT_I4);
  EXPECT_EQ(object_.lastArguments[0].lVal, 7);
  EXPECT_EQ(object_.lastArguments[1].vt, VT_BSTR);
}

TEST_F(JsDispatchTest, UnsignedPropertyAndNullString) {
  object_.nullBstr = true;
  ASSERT_EQ(Run("obj.Number + '|' + obj.Text + '|' + typeof obj.Text"), 0) << message_;
  EXPECT_EQ(output_text_, "4294967295||string");
}

TEST_F(JsDispatchTest, UnknownNameThrowsWithTheStatusInHex) {
  EXPECT_EQ(Run("obj.Nope"), 1);
  EXPECT_NE(message_.find("0x80020006"), std::string::npos) << message_;
  EXPECT_EQ(Run("var n; try { obj.Nope = 1 } catch (e) { n = e.number } n"), 0);
  EXPECT_EQ(output_text_, std::to_string(static_cast<int>(DISP_E_UNKNOWNNAME)));
}

TEST_F(JsDispatchTest, WrongArgumentCountAndExceptionsBecomeErrors) {
  EXPECT_EQ(Run("obj.Join(1)"), 1);
  EXPECT_NE(message_.find("0x8002000E"), std::string::npos) << message_;
  EXPECT_EQ(Run("obj.Fail()"), 1);
  EXPECT_NE(message_.find("it went wrong"), std::string::npos) << message_;
  EXPECT_NE(message_.find("0x80004005"), std::string::npos) << message_;
}

TEST_F(JsDispatchTest, ObjectsPassBackAsTheirOwnIDispatch) {
  ASSERT_EQ(Run("obj.Join(obj, null); 1"), 0) << message_;
  ASSERT_EQ(object_.lastArguments.size(), 2u);
  EXPECT_EQ(object_.lastArguments[0].vt, VT_DISPATCH);
  EXPECT_EQ(object_.lastArguments[0].pdispVal, static_cast<IDispatch*>(&object_));
  EXPECT_EQ(object_.lastArguments[1].vt, VT_NULL);
}

TEST_F(JsDispatchTest, EveryReferenceIsReleasedWhenTheHeapGoes) {
  object_.ClearArguments();
  ASSERT_EQ(Run("var a = obj, b = [obj, obj]; obj.Text = 'x'; 1"), 0) << message_;
  object_.ClearArguments();
  EXPECT_EQ(object_.references, 1u);
  EXPECT_EQ(state_.liveObjects, 0);
}

TEST(ScriptHost, UncaughtErrorGoesToStandardErrorWithStatusOne) {
  HostState state;
  std::FILE* errors = std::tmpfile();
  state.err = errors;
  EXPECT_EQ(RunScriptSource(state, "var x = 1;\nthrow new Error('broken here');", "bad.js"), 1);
  std::rewind(errors);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, errors), nullptr);
  EXPECT_STREQ(line, "bad.js:2: Error: broken here\n");
  std::fclose(errors);
}

TEST(ScriptHost, QuitEndsTheScriptWithItsCodeEvenInsideTryCatch) {
  HostState state;
  std::FILE* output = std::tmpfile();
  state.out = output;
  EXPECT_EQ(RunScriptSource(state, "try { WScript.Quit(7) } catch (e) { WScript.Echo('caught') } WScript.Echo('after')",
                            "quit.js"),
            7);
  std::rewind(output);
  char line[64] = {};
  EXPECT_EQ(std::fgets(line, sizeof line, output), nullptr) << line;  // nothing printed after Quit
  std::fclose(output);
}

TEST(ScriptHost, ArgumentsEchoAndSyntaxErrors) {
  HostState state;
  state.arguments = {"one", "Žiga"};
  std::FILE* output = std::tmpfile();
  state.out = output;
  EXPECT_EQ(RunScriptSource(state,
                            "WScript.Echo(WScript.Arguments.length, WScript.Arguments(1), WScript.Arguments.Item(0));"
                            "try { WScript.Arguments(2) } catch (e) { WScript.StdOut.Write(e.number) }",
                            "args.js"),
            0);
  std::rewind(output);
  char text[128] = {};
  std::fread(text, 1, sizeof text - 1, output);
  EXPECT_EQ(std::string(text), "2 Žiga one\n" + std::to_string(static_cast<int>(0x800A0009)));

  // Both streams stay open until the host is done with them: it flushes its output after every run.
  std::FILE* errors = std::tmpfile();
  state.err = errors;
  EXPECT_EQ(RunScriptSource(state, "var = ;", "syntax.js"), 1);
  EXPECT_GT(std::ftell(errors), 0);
  std::fclose(errors);
  std::fclose(output);
}

}  // namespace
}  // namespace quillbox::host::js

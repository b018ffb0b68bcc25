#include <gtest/gtest.h>

#include <string>

#include "common/result.h"
#include "platform/com.h"
#include "testing/matchers.h"

namespace orvex::platform {
namespace {

TEST(ComStringTest, AppendGrowsTheStringOrLeavesItAlone) {
  BSTR line = nullptr;
  const std::u16string path = u"/out/p\u00e4.zip";
  EXPECT_HR(S_OK, AppendBstr(&line, u"-r \""));
  EXPECT_HR(S_OK, AppendBstr(&line, path));
  EXPECT_HR(S_OK, AppendBstr(&line, u"\""));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::u16string(line, SysStringLen(line) + 1),
            std::u16string(u"-r \"/out/p\u00e4.zip\"\0", 17));

  EXPECT_HR(E_INVALIDARG, AppendBstr(nullptr, u"x"));
  EXPECT_HR(E_INVALIDARG, AppendBstr(&line, static_cast<const char16_t*>(nullptr)));
  // The length check comes before any character is read.
  const std::u16string_view huge(u"x", 0x80000000u);
  EXPECT_HR(HResultFromWin32(ERROR_ARITHMETIC_OVERFLOW), AppendBstr(&line, huge));
  EXPECT_EQ(std::u16string(line), u"-r \"/out/p\u00e4.zip\"");
  SysFreeString(line);
}

constexpr CLSID kTestClass = {0x1234, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr IID kTestInterface = {0x5678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
int g_factory_calls = 0;

HRESULT CreateTestObject(const IID& iid, void** object) {
  ++g_factory_calls;
  if (!(iid == kTestInterface)) return E_NOINTERFACE;
  static int instance = 0;
  *object = &instance;
  return S_OK;
}

TEST(ComClassTest, CreateInstanceFindsRegisteredClassesOnly) {
  void* object = &g_factory_calls;
  EXPECT_HR(REGDB_E_CLASSNOTREG,
            CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, kTestInterface, &object));
  EXPECT_EQ(object, nullptr);

  ASSERT_HR(S_OK, CoRegisterClassFactory(kTestClass, &CreateTestObject));
  g_factory_calls = 0;
  EXPECT_HR(S_OK, CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, kTestInterface, &object));
  EXPECT_NE(object, nullptr);
  EXPECT_HR(E_NOINTERFACE,
            CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object));

  struct Case {
    IUnknown* outer;
    std::uint32_t context;
    void** out;
    HRESULT expected;
  };
  IUnknown* some_outer = reinterpret_cast<IUnknown*>(&object);
  const Case cases[] = {
      {some_outer, CLSCTX_ALL, &object, CLASS_E_NOAGGREGATION},
      {nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, &object, REGDB_E_CLASSNOTREG},
      {nullptr, CLSCTX_ALL, nullptr, E_POINTER},
  };
  for (const Case& c : cases) {
    EXPECT_HR(c.expected, CoCreateInstance(kTestClass, c.outer, c.context, kTestInterface, c.out));
  }
  EXPECT_EQ(g_factory_calls, 2);  // refused before the factory is asked
}

}  // namespace
}  // namespace orvex::platform

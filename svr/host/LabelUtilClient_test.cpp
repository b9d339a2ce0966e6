// ILabelUtil as clients in other processes see it: through the vtable,
// late-bound through IDispatch, and from VBScript.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "LabelUtil.h"
#include "PelkoLabelSvr.h"
#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

class LabelUtilClient : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_TRUE(InstallProgram());
    ASSERT_EQ(RunInstalled(L"/RegServer"), 0u);
    labels = Create();
    ASSERT_TRUE(labels);
  }
  void TearDown() override {
    labels.reset();
    CoUninitialize();
  }

  static com_ptr<ILabelUtil> Create() {
    CLSID clsid;
    com_ptr<ILabelUtil> created;
    if (SUCCEEDED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid))) {
      CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILabelUtil, created.put_void());
    }
    return created;
  }

  ULONG Get(const wchar_t* path) {
    unique_bstr text(SysAllocString(path));
    ULONG value = 99;
    EXPECT_EQ(labels->GetLabel(text.get(), &value), S_OK);
    return value;
  }
  HRESULT Set(const wchar_t* path, ULONG value) {
    unique_bstr text(SysAllocString(path));
    return labels->SetLabel(text.get(), value);
  }

  struct Collection {
    HRESULT result = E_FAIL;
    ULONG count = 99;
    unique_variant paths, labels;
  };
  void Collect(ULONG kind, Collection& collection) {
    collection.result = labels->GetLabelCollection(kind, &collection.count, collection.paths.get(), collection.labels.get());
  }

  com_ptr<ILabelUtil> labels;
};

std::vector<std::wstring> BstrElements(SAFEARRAY* array) {
  std::vector<std::wstring> elements;
  LONG lower = 1, upper = 0;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    unique_bstr element;
    SafeArrayGetElement(array, &i, element.put());
    elements.emplace_back(element ? element.get() : L"");
  }
  return elements;
}

std::vector<ULONG> UlongElements(SAFEARRAY* array) {
  std::vector<ULONG> elements;
  LONG lower = 1, upper = 0;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    ULONG element = 0;
    SafeArrayGetElement(array, &i, &element);
    elements.push_back(element);
  }
  return elements;
}

TEST_F(LabelUtilClient, AnswersAsTheInterfacePromises) {
  Collection empty;
  Collect(0, empty);
  EXPECT_EQ(empty.result, S_OK);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.paths->vt, VT_EMPTY);
  EXPECT_EQ(empty.labels->vt, VT_EMPTY);

  EXPECT_EQ(Get(L"C:\\never.txt"), 0u);
  EXPECT_EQ(Set(L"C:\\b.txt", 2), S_OK);
  EXPECT_EQ(Get(L"c:\\B.TXT"), 2u);
  EXPECT_EQ(Set(L"C:\\A.txt", 1), S_OK);
  EXPECT_EQ(Set(L"C:\\unlabelled", 0), S_OK);
  EXPECT_EQ(Get(L"C:\\unlabelled"), 0u);
  EXPECT_EQ(Set(L"C:\\nine", 9), S_OK);
  EXPECT_EQ(Get(L"C:\\nine"), 9u);
  EXPECT_EQ(Set(L"C:\\nine", 0), S_OK);
  EXPECT_EQ(Get(L"C:\\nine"), 0u);
  unique_bstr never(SysAllocString(L"C:\\never.txt"));
  EXPECT_EQ(labels->ClearLabel(never.get()), S_OK);
  EXPECT_EQ(labels->SetLabel(nullptr, 6), S_OK) << "a null path is the empty path";
  EXPECT_EQ(labels->ClearLabel(nullptr), S_OK);

  Collection all;
  Collect(0, all);
  EXPECT_EQ(all.result, S_OK);
  ASSERT_EQ(all.count, 2u);
  ASSERT_EQ(all.paths->vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(all.labels->vt, VT_ARRAY | VT_UI4);
  EXPECT_EQ(BstrElements(all.paths->parray), (std::vector<std::wstring>{L"C:\\A.txt", L"C:\\b.txt"}));
  EXPECT_EQ(UlongElements(all.labels->parray), (std::vector<ULONG>{1, 2}));

  Collection none;
  Collect(5, none);
  EXPECT_EQ(none.result, S_OK);
  EXPECT_EQ(none.count, 0u);
  ASSERT_EQ(none.paths->vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(none.labels->vt, VT_ARRAY | VT_UI4);
  LONG lower = -1, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(none.paths->parray, 1, &lower), S_OK);
  EXPECT_EQ(lower, 0);
  SafeArrayGetUBound(none.labels->parray, 1, &upper);
  EXPECT_EQ(upper, -1);

  Set(L"C:\\nine", 9);
  Collection nine;
  Collect(9, nine);
  ASSERT_EQ(nine.count, 1u);
  EXPECT_EQ(BstrElements(nine.paths->parray), std::vector<std::wstring>{L"C:\\nine"});
}

TEST_F(LabelUtilClient, TheSameObjectAnswersForAWholeFolder) {
  com_ptr<ILabelFolderQuery> folders;
  ASSERT_EQ(labels.query(folders), S_OK);
  for (const auto& [path, label] : std::vector<std::pair<const wchar_t*, ULONG>>{
           {L"D:\\Work", 1}, {L"D:\\Work\\b.txt", 2}, {L"d:\\work\\A.txt", 3}, {L"D:\\Work\\Sub\\deep.txt", 4},
           {L"D:\\Work\\Sub", 5}, {L"D:\\WorkX\\c.txt", 6}, {L"D:\\Work\\gone.txt", 1}}) {
    ASSERT_EQ(Set(path, label), S_OK);
  }
  ASSERT_EQ(Set(L"D:\\Work\\gone.txt", 0), S_OK);

  struct Case {
    const wchar_t* folder;
    std::vector<std::wstring> names;
    std::vector<ULONG> labels;
  } cases[] = {
      {L"D:\\Work", {L"A.txt", L"b.txt", L"Sub"}, {3, 2, 5}},
      {L"d:\\WORK\\", {L"A.txt", L"b.txt", L"Sub"}, {3, 2, 5}},
      {L"D:\\", {L"Work"}, {1}},
      {L"D:\\Work\\Sub", {L"deep.txt"}, {4}},
      {L"D:\\Empty", {}, {}},
  };
  for (const Case& c : cases) {
    unique_bstr folder(SysAllocString(c.folder));
    ULONG count = 99;
    unique_variant names, values;
    ASSERT_EQ(folders->GetFolderLabels(folder.get(), &count, names.get(), values.get()), S_OK);
    EXPECT_EQ(count, c.names.size()) << Utf8(c.folder);
    ASSERT_EQ(names->vt, VT_ARRAY | VT_BSTR);
    ASSERT_EQ(values->vt, VT_ARRAY | VT_UI4);
    EXPECT_EQ(BstrElements(names->parray), c.names) << Utf8(c.folder);
    EXPECT_EQ(UlongElements(values->parray), c.labels) << Utf8(c.folder);
  }
}

TEST_F(LabelUtilClient, IsNewVersionNotifiedIsOneFlagForEveryClient) {
  com_ptr<ILabelUtil> other = Create();
  ASSERT_TRUE(other);
  VARIANT_BOOL value = 7;
  EXPECT_EQ(other->get_IsNewVersionNotified(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);
  EXPECT_EQ(labels->put_IsNewVersionNotified(VARIANT_TRUE), S_OK);
  com_ptr<ILabelUtil> later = Create();
  EXPECT_EQ(later->get_IsNewVersionNotified(&value), S_OK);
  EXPECT_EQ(value, VARIANT_TRUE);
  EXPECT_EQ(labels->put_IsNewVersionNotified(5), S_OK);
  EXPECT_EQ(other->get_IsNewVersionNotified(&value), S_OK);
  EXPECT_EQ(value, 5) << "the value is kept as given";
}

// A late-bound caller with typed references gets exactly the vtable's types.
TEST_F(LabelUtilClient, LateBoundCallsByName) {
  com_ptr<IDispatch> dispatch;
  ASSERT_EQ(labels.query(dispatch), S_OK);
  auto dispidOf = [&](const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    return id;
  };
  EXPECT_EQ(dispidOf(L"GetLabel"), 1);
  EXPECT_EQ(dispidOf(L"GetLabelCollection"), 4);
  EXPECT_EQ(dispidOf(L"IsNewVersionNotified"), 11);

  unique_bstr path(SysAllocString(L"C:\\late.txt"));
  VARIANT setArguments[2];  // last argument first
  setArguments[0].vt = VT_UI4;
  setArguments[0].ulVal = 3;
  setArguments[1].vt = VT_BSTR;
  setArguments[1].bstrVal = path.get();
  DISPPARAMS setParameters{setArguments, nullptr, 2, 0};
  EXPECT_EQ(dispatch->Invoke(dispidOf(L"SetLabel"), IID_NULL, 0, DISPATCH_METHOD, &setParameters, nullptr, nullptr, nullptr), S_OK);

  ULONG value = 0;
  VARIANT getArguments[2];
  getArguments[0].vt = VT_BYREF | VT_UI4;
  getArguments[0].pulVal = &value;
  getArguments[1].vt = VT_BSTR;
  getArguments[1].bstrVal = path.get();
  DISPPARAMS getParameters{getArguments, nullptr, 2, 0};
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &getParameters, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(value, 3u);

  ULONG count = 0;
  unique_variant paths, labelValues;
  VARIANT collectArguments[4];
  collectArguments[0].vt = VT_BYREF | VT_VARIANT;
  collectArguments[0].pvarVal = labelValues.get();
  collectArguments[1].vt = VT_BYREF | VT_VARIANT;
  collectArguments[1].pvarVal = paths.get();
  collectArguments[2].vt = VT_BYREF | VT_UI4;
  collectArguments[2].pulVal = &count;
  collectArguments[3].vt = VT_UI4;
  collectArguments[3].ulVal = 0;
  DISPPARAMS collectParameters{collectArguments, nullptr, 4, 0};
  EXPECT_EQ(dispatch->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &collectParameters, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(paths->vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(labelValues->vt, VT_ARRAY | VT_UI4);

  unique_variant flag;
  DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
  EXPECT_EQ(dispatch->Invoke(11, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArguments, flag.get(), nullptr, nullptr), S_OK);
  EXPECT_EQ(flag->vt, VT_BOOL);
  EXPECT_EQ(flag->boolVal, VARIANT_FALSE);
}

TEST_F(LabelUtilClient, AVBScriptClientSetsReadsListsAndClears) {
  labels.reset();
  const char* script =
      "Set o = CreateObject(\"PelkoLabelSvr.LabelUtil\")\r\n"
      "o.GetLabelCollection 0, n, p, l\r\n"
      "WScript.Echo \"empty \" & n & \" \" & IsEmpty(p) & \" \" & IsEmpty(l)\r\n"
      "o.SetLabel \"C:\\b.txt\", 2\r\n"
      "o.SetLabel \"C:\\A.txt\", 1\r\n"
      "o.GetLabel \"c:\\a.TXT\", v\r\n"
      "WScript.Echo \"label \" & v & \" \" & TypeName(v)\r\n"
      "o.GetLabelCollection 0, n, p, l\r\n"
      "WScript.Echo \"all \" & n & \" \" & p(0) & \"=\" & l(0) & \" \" & p(1) & \"=\" & l(1)\r\n"
      "o.GetLabelCollection 5, n, p, l\r\n"
      "WScript.Echo \"none \" & n & \" \" & UBound(p) & \" \" & UBound(l)\r\n"
      "o.ClearLabel \"C:\\A.txt\"\r\n"
      "o.GetLabel \"C:\\A.txt\", v\r\n"
      "WScript.Echo \"cleared \" & v\r\n"
      "WScript.Echo \"notified \" & o.IsNewVersionNotified\r\n"
      "o.IsNewVersionNotified = True\r\n"
      "WScript.Echo \"notified \" & o.IsNewVersionNotified\r\n";
  ASSERT_TRUE(WriteWholeFile(L"C:\\labels.vbs", script));
  const CapturedRun run = RunCapturingOutput(L"cscript.exe //nologo C:\\labels.vbs", 60000);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output,
            "empty 0 True True\n"
            "label 1 Long\n"
            "all 2 C:\\A.txt=1 C:\\b.txt=2\n"
            "none 0 -1 -1\n"
            "cleared 0\n"
            "notified False\n"
            "notified True\n");
}

// The class can be the inner object of an aggregate (in-process only).
TEST(LabelUtilAggregation, TheInnerObjectDelegatesToTheOuter) {
  class Outer : public IUnknown {
   public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** result) override {
      if (IsEqualIID(iid, IID_IUnknown)) {
        *result = this;
        AddRef();
        return S_OK;
      }
      return inner->QueryInterface(iid, result);
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references; }
    IFACEMETHODIMP_(ULONG) Release() override { return --references; }
    ULONG references = 1;
    com_ptr<IUnknown> inner;
  } outer;

  EXPECT_EQ(CreateLabelUtil(&outer, IID_ILabelUtil, outer.inner.put_void()), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(CreateLabelUtil(&outer, IID_IUnknown, outer.inner.put_void()), S_OK);
  com_ptr<ILabelUtil> labels;
  ASSERT_EQ(outer.inner.query(labels), S_OK);
  EXPECT_EQ(outer.references, 2u) << "the interface must count on the outer object";
  com_ptr<IUnknown> identity;
  ASSERT_EQ(labels.query(identity), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
  identity.reset();
  labels.reset();
  EXPECT_EQ(outer.references, 1u);
  outer.inner.reset();
}

}  // namespace
}  // namespace pelko

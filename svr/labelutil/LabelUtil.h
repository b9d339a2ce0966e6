#pragma once
// CLabelUtil: the COM front of the label table. Stateless: every call goes
// to a locked store entry point; all objects of all clients share the one
// table and the one IsNewVersionNotified flag of the service process. The
// same object answers ILabelFolderQuery, the shell extension's question
// about a whole folder.

#include <windows.h>

#include "ComObject.h"
#include "Dispatch.h"
#include "PelkoLabelSvr.h"

namespace pelko {

class CLabelUtil : public DispatchImpl<ILabelUtil, IID_ILabelUtil, LIBID_PelkoLabelSvrLib>, public ILabelFolderQuery {
 public:
  static const QITAB* InterfaceTable();

  // ILabelUtil
  IFACEMETHODIMP GetLabel(BSTR path, ULONG* value) override;
  IFACEMETHODIMP SetLabel(BSTR path, ULONG value) override;
  IFACEMETHODIMP ClearLabel(BSTR path) override;
  IFACEMETHODIMP GetLabelCollection(ULONG labelKind, ULONG* count, VARIANT* pathArray, VARIANT* labelArray) override;
  IFACEMETHODIMP get_IsNewVersionNotified(VARIANT_BOOL* value) override;
  IFACEMETHODIMP put_IsNewVersionNotified(VARIANT_BOOL value) override;

  // ILabelFolderQuery
  IFACEMETHODIMP GetFolderLabels(BSTR folder, ULONG* count, VARIANT* nameArray, VARIANT* labelArray) override;

  // IDispatch: scripts pass outputs as VARIANT references, which the type
  // library's Invoke rejects for ULONG* parameters; they are served here.
  IFACEMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

  // Only for tests: back to the state of a fresh service process.
  static void ResetNewVersionNotified();

 private:
  HRESULT InvokeGetLabelForScript(DISPPARAMS& parameters, UINT* argumentError);
  HRESULT InvokeGetLabelCollectionForScript(DISPPARAMS& parameters, UINT* argumentError);
};

// The class factory's creation function.
HRESULT CreateLabelUtil(IUnknown* outer, REFIID iid, void** result) noexcept;

}  // namespace pelko

// The COM plumbing the store links (type information, module counts) comes with the server's
// class table. In a test program the classes of that table are the registered server's own.
#include "com/classes.h"
#include "nvstagQP.h"

namespace qp {
namespace {

HRESULT FromServer(REFCLSID clsid, REFIID iid, void** out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

}  // namespace

HRESULT CreateRecognizer(REFIID iid, void** out) {
  return FromServer(CLSID_Recognizer, iid, out);
}
HRESULT CreateAction(REFIID iid, void** out) {
  return FromServer(CLSID_Action, iid, out);
}
HRESULT CreateController(REFIID iid, void** out) {
  return FromServer(CLSID_Controller, iid, out);
}

}  // namespace qp

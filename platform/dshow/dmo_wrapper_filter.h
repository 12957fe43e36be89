#pragma once
// The media-object wrapper filter (CLSID_DMOWrapperFilter): a filter with
// one input pin "in0" and one output pin "out0" around a media object.
//
// IDMOWrapperFilter::Init creates the object by class id. The input pin
// takes the types the object's SetInputType accepts (the upstream pin
// offers them); the output pin offers the object's GetOutputType types;
// its buffers have the size that GetOutputSizeInfo gives. Each received
// sample goes to ProcessInput, then ProcessOutput runs again while the
// object marks its output incomplete; every filled output buffer is
// delivered with the times the object gave. End of stream drains the object
// (Discontinuity, then ProcessOutput while anything comes out) and passes
// the end on. Interfaces the filter lacks (IPropertyBag, the settings
// interfaces) are asked of the object.
//
// Thread: Receive and EndOfStream on the upstream pin's thread.

#include "platform/dshow/interfaces.h"

namespace dshow {

// A new, uninitialised wrapper filter answering iid.
HRESULT CreateDmoWrapperFilter(const GUID& iid, void** object);

}  // namespace dshow

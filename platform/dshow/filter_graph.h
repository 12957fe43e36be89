#pragma once
// The filter graph and the capture graph builder, created by class id
// (CLSID_FilterGraph, CLSID_CaptureGraphBuilder2) once RegisterGraphClasses
// has run in the process.
//
// The graph holds its filters (one reference each), connects pins directly,
// runs them downstream first and stops them sources first, so that every
// pin thread is joined before Stop returns. It counts the filters at the
// ends of its chains when it runs; once each has reported EC_COMPLETE, the
// graph completes with EC_COMPLETE. EC_ERRORABORT and EC_USERABORT complete
// it at once. Events are queued for GetEvent as well.
//
// Thread: building and state calls on one thread; Notify from any thread;
// WaitForCompletion and GetEvent from any thread.

#include "platform/com/unknown.h"
#include "platform/dshow/interfaces.h"

namespace dshow {

// Registers the filter graph, the capture graph builder and the media-object
// wrapper filter as classes of this process. Any thread; repeatable.
void RegisterGraphClasses();

// Creates a new graph (one reference), answering iid.
HRESULT CreateFilterGraph(const GUID& iid, void** object);
HRESULT CreateCaptureGraphBuilder(const GUID& iid, void** object);

}  // namespace dshow

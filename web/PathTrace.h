// Time stamps along the live path of one kernel update, to measure where
// the server's delay goes rather than guess it: the notification reaching
// the server, the changed heats read and ranked, the event texts made, the
// events queued, the first write to a parked socket begun and all done. Off unless the environment
// variable VARNOX_WEB_TRACE names a file; each update the server follows
// then appends one line to it, written after the events have left.
#pragma once

namespace varnox::web::trace {

// The points of the path, in the order an update passes them.
enum class Stage { Notified, Read, Texts, Queued, Sending, Sent, Count };

// Stamps `stage` of the update the calling thread is handling (real-time
// clock, as the timing process stamps its writes). Costs a flag test when
// tracing is off.
void Mark(Stage stage);
// Ends the calling thread's update: appends its stamps to the trace as one
// line of nanoseconds since the epoch, in stage order, 0 for a stage not
// passed (an update that queued no event is not sent), and forgets them.
// Writes nothing for an update whose notification was not stamped.
void Finish();

}  // namespace varnox::web::trace

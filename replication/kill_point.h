// For tests only: named instants of replication at which a test can have the process
// killed, to prove that a SIGKILL there loses no change and applies none twice.
//
// A process started with TORVAN_TEST_KILL_AT=<point> raises SIGKILL the first time it
// reaches that point; with TORVAN_TEST_KILL_AT=<point>@<n>, the n-th time. Without the
// variable, or for any other point, KillPoint does nothing. The points:
//   change-received  host to SQL: the S reply is read, the journal does not hold it
//   change-journaled the change is in the journal, the next S request has not left
//   change-applied   its statements (and image files) are done, the transaction is open
//   position-written the database's journal position is written, not yet committed
//   batch-committed  every database of the batch committed, the journal not told
//   journal-advanced the journal says the batch is applied, no log line written
//   image-chunk      a chunk of an image part is written, the part is not finished
//   event-marked     SQL to host: a batch of events is marked in flight, no R request sent
//   event-answered   the host's status of one is read, the batch's rows are still there
//   event-removed    the batch's event and master rows are gone, the marks are not
#pragma once

#include <string_view>

namespace torvan {

void KillPoint(std::string_view point);

}  // namespace torvan

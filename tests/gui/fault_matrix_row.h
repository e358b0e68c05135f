#pragma once
// One row of the fault matrix (fault_matrix_test.cpp): what the archive is
// told to do, what is wrong in the program directory, and what the window
// must show for it. Included by the fault matrix's files alone (through
// fault_matrix_support.h), hence its unnamed namespace.

#include <QString>
#include <QStringList>

namespace {

// [Query] Timeout for every row: a hung archive costs two seconds.
constexpr int kTimeoutS = 2;

enum class Op { Search, Send };
enum class Expect {
  Error,    // one error line naming the procedure, one critical message
  TooMany,  // the too-many message, no error line, the grid as it was
  Rows,     // the search shows its rows, no message
  SendDone, // Send ends with its completion message
  Cancelled,  // the cancel message (cause), nothing logged
  Closed,     // the window closed mid-Send goes without waiting for the archive
};
// What the user does while a Send waits on an archive that holds a C-STORE.
enum class Action { Wait, CancelButton, EscKey, CloseWindow };
// What the row does to the program directory before the operation.
enum class Disk { None, ReadOnly, Missing, Folder, Garbage, LogsIsAFile, ErrorLogFull };
// Where Settings.ini sends the operation.
enum class Target { Bad, Refused, UnknownHost, Good };

struct Row {
  QStringList archive;  // the misbehaving archive's options
  Target target = Target::Bad;
  Op op = Op::Search;
  Disk disk = Disk::None;
  bool killBeforeSend = false;  // the archive goes away between search and send
  Expect expect = Expect::Error;
  QString procedure;  // in the error line
  QString cause;      // a pattern the message must match
  int rows = 0;       // Expect::Rows: the grid's rows
  Action action = Action::Wait;
  int timeoutS = kTimeoutS;  // long where only a cancel can end the wait in time
  QStringList tls{};  // [TLS] lines for the faulty Settings.ini; "{pki}" is the test PKI's folder
};

}  // namespace

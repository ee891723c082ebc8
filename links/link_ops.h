// LinkOps: the four routines that open and close the links, as the control layer calls
// them. RuntimeLinks runs the real ones on a Runtime; tests of the control layer put a
// fake in their place.
#pragma once

#include "links/link_control.h"
#include "links/sql_control.h"

namespace torvan {

class LinkOps {
 public:
  virtual ~LinkOps() = default;
  virtual bool Server_AS_Start() = 0;
  virtual bool Server_AS_Stop() = 0;
  virtual bool Server_SQL_Start_() = 0;
  virtual bool Server_SQL_Stop_() = 0;
  // Why the last Server_AS_Start failed, for the operator (Windows-1252); empty when it
  // did not fail or nothing is known.
  virtual std::string FailureReason() const { return ""; }
};

class RuntimeLinks final : public LinkOps {
 public:
  explicit RuntimeLinks(Runtime& rt) : rt_(rt) {}
  bool Server_AS_Start() override { return torvan::Server_AS_Start(rt_); }
  bool Server_AS_Stop() override { return torvan::Server_AS_Stop(rt_); }
  bool Server_SQL_Start_() override { return torvan::Server_SQL_Start_(rt_); }
  bool Server_SQL_Stop_() override { return torvan::Server_SQL_Stop_(rt_); }
  std::string FailureReason() const override { return rt_.link_failure; }

 private:
  Runtime& rt_;
};

}  // namespace torvan

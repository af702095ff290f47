#pragma once
// A Program Manager stand-in for tests: a real DDEML server of the "PROGMAN" service on a thread of its
// own. It keeps groups and items in memory, answers the "Groups" request and a group's description in
// Program Manager's reply format, carries out "CreateGroup", "DeleteGroup", "ShowGroup" and
// "DeleteItem" (on the group shown last), and records every command text it receives, so that tests
// compare them byte for byte. On request it refuses conversations, does not answer, or answers a
// group's description with a text of the test's own.
#include <windows.h>
#include <ddeml.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct StandInItem {
    std::string name, command, directory, icon;
};

class ProgmanStandIn {
  public:
    ProgmanStandIn();
    ~ProgmanStandIn();
    ProgmanStandIn(const ProgmanStandIn&) = delete;
    ProgmanStandIn& operator=(const ProgmanStandIn&) = delete;

    bool running() const { return running_; }

    void AddGroup(const std::string& name, const std::vector<StandInItem>& items = {});
    bool HasGroup(const std::string& name) const;
    // Every command text received, in order.
    std::vector<std::string> Commands() const;

    // Misbehaviour on request.
    void RefuseConversations(bool refuse);
    void StopAnswering(bool silent);                                   // requests and commands go unanswered
    void SetReply(const std::string& request, const std::string& raw); // raw text for one request
    void QuoteGroupNames(bool quoted);                                 // "Groups" lists names in quotes

    // The server thread's body, and the server's side of the DDEML callback.
    void Run();
    HDDEDATA Transaction(UINT type, HSZ topic, HSZ item, HDDEDATA data);

  private:
    std::string Text(HSZ handle) const;
    std::string Describe(const std::string& group) const;
    bool Carry(const std::string& command);

    mutable std::mutex lock_;
    std::map<std::string, std::vector<StandInItem>> groups_;
    std::vector<std::string> commands_;
    std::map<std::string, std::string> replies_;
    std::string current_;
    bool refuse_ = false, silent_ = false, quoted_ = false;

    DWORD instance_ = 0;
    HSZ service_ = nullptr;
    HANDLE thread_ = nullptr, ready_ = nullptr;
    DWORD threadId_ = 0;
    bool running_ = false;
};

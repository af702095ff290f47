#include "kit/progman_standin.h"

#include <ddeml.h>

namespace {

// The one stand-in that the DDEML callback serves (tests run one at a time in a process).
ProgmanStandIn* g_standIn = nullptr;

HDDEDATA CALLBACK StandInCallback(UINT type, UINT, HCONV, HSZ topic, HSZ item, HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    return g_standIn != nullptr ? g_standIn->Transaction(type, topic, item, data) : nullptr;
}

DWORD WINAPI ServerThread(void* self)
{
    static_cast<ProgmanStandIn*>(self)->Run();
    return 0;
}

// The text between the quotes of "name" (or the text itself).
std::string Unquoted(const std::string& s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        return s.substr(1, s.size() - 2);
    }
    return s;
}

} // namespace

ProgmanStandIn::ProgmanStandIn()
{
    g_standIn = this;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ServerThread, this, 0, &threadId_);
    if (thread_ != nullptr) {
        WaitForSingleObject(ready_, 10000);
    }
}

ProgmanStandIn::~ProgmanStandIn()
{
    if (thread_ != nullptr) {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
    }
    CloseHandle(ready_);
    g_standIn = nullptr;
}

void ProgmanStandIn::Run()
{
    if (DdeInitializeA(&instance_, StandInCallback,
                       APPCLASS_STANDARD | CBF_FAIL_POKES | CBF_FAIL_ADVISES | CBF_SKIP_ALLNOTIFICATIONS,
                       0) != DMLERR_NO_ERROR) {
        SetEvent(ready_);
        return;
    }
    service_ = DdeCreateStringHandleA(instance_, "PROGMAN", CP_WINANSI);
    running_ = service_ != nullptr && DdeNameService(instance_, service_, nullptr, DNS_REGISTER) != nullptr;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists before the event
    SetEvent(ready_);
    while (running_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    DdeNameService(instance_, service_, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(instance_, service_);
    DdeUninitialize(instance_);
}

std::string ProgmanStandIn::Text(HSZ handle) const
{
    char text[1024] = {};
    DdeQueryStringA(instance_, handle, text, sizeof(text), CP_WINANSI);
    return text;
}

HDDEDATA ProgmanStandIn::Transaction(UINT type, HSZ topic, HSZ item, HDDEDATA data)
{
    std::lock_guard<std::mutex> guard(lock_);
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(static_cast<UINT_PTR>(!refuse_ && Text(topic) == "PROGMAN"));
    case XTYP_EXECUTE: {
        if (silent_) {
            return reinterpret_cast<HDDEDATA>(CBR_BLOCK);
        }
        DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::string command(size, '\0');
        DdeGetData(data, reinterpret_cast<LPBYTE>(&command[0]), size, 0);
        command.resize(strnlen(command.c_str(), command.size()));
        commands_.push_back(command);
        return reinterpret_cast<HDDEDATA>(static_cast<UINT_PTR>(Carry(command) ? DDE_FACK : DDE_FNOTPROCESSED));
    }
    case XTYP_REQUEST: {
        if (silent_) {
            return reinterpret_cast<HDDEDATA>(CBR_BLOCK);
        }
        std::string name = Text(item), reply;
        auto raw = replies_.find(name);
        if (raw != replies_.end()) {
            reply = raw->second;
        } else if (name == "Groups") {
            for (const auto& g : groups_) {
                reply += (quoted_ ? "\"" + g.first + "\"" : g.first) + "\r\n";
            }
        } else if (groups_.count(name) != 0) {
            reply = Describe(name);
        } else {
            return nullptr;
        }
        return DdeCreateDataHandle(instance_, reinterpret_cast<LPBYTE>(&reply[0]), static_cast<DWORD>(reply.size() + 1),
                                   0, item, CF_TEXT, 0);
    }
    default:
        return nullptr;
    }
}

// Program Manager's description: the group's row (name, file, item count, ...), then a row per item
// (name, command line, directory, icon path, position, icon index, hot key, minimised).
std::string ProgmanStandIn::Describe(const std::string& group) const
{
    const std::vector<StandInItem>& items = groups_.at(group);
    std::string text =
        "\"" + group + "\",C:\\\\WINDOWS\\\\" + group + ".GRP," + std::to_string(items.size()) + ",1\r\n";
    for (const StandInItem& i : items) {
        text += "\"" + i.name + "\",\"" + i.command + "\"," + i.directory + "," + i.icon + ",10,10,0,0,0\r\n";
    }
    return text;
}

// Carries out "[Word(arguments)]"; false when it names no group or item it has.
bool ProgmanStandIn::Carry(const std::string& command)
{
    size_t open = command.find('('), close = command.rfind(')');
    if (command.size() < 4 || command[0] != '[' || open == std::string::npos || close == std::string::npos) {
        return false;
    }
    std::string word = command.substr(1, open - 1);
    std::string arguments = command.substr(open + 1, close - open - 1);
    std::string name = Unquoted(arguments.substr(0, arguments.rfind('"') + 1));
    if (word == "CreateGroup") {
        groups_[name];
        current_ = name;
        return true;
    }
    if (word == "ShowGroup") {
        current_ = name;
        return groups_.count(name) != 0;
    }
    if (word == "DeleteGroup") {
        return groups_.erase(name) != 0;
    }
    if (word == "DeleteItem" && groups_.count(current_) != 0) {
        std::vector<StandInItem>& items = groups_[current_];
        for (auto i = items.begin(); i != items.end(); ++i) {
            if (i->name == name) {
                items.erase(i);
                return true;
            }
        }
    }
    return false;
}

void ProgmanStandIn::AddGroup(const std::string& name, const std::vector<StandInItem>& items)
{
    std::lock_guard<std::mutex> guard(lock_);
    groups_[name] = items;
}

bool ProgmanStandIn::HasGroup(const std::string& name) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return groups_.count(name) != 0;
}

std::vector<std::string> ProgmanStandIn::Commands() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return commands_;
}

void ProgmanStandIn::RefuseConversations(bool refuse)
{
    std::lock_guard<std::mutex> guard(lock_);
    refuse_ = refuse;
}

void ProgmanStandIn::StopAnswering(bool silent)
{
    std::lock_guard<std::mutex> guard(lock_);
    silent_ = silent;
}

void ProgmanStandIn::SetReply(const std::string& request, const std::string& raw)
{
    std::lock_guard<std::mutex> guard(lock_);
    replies_[request] = raw;
}

void ProgmanStandIn::QuoteGroupNames(bool quoted)
{
    std::lock_guard<std::mutex> guard(lock_);
    quoted_ = quoted;
}

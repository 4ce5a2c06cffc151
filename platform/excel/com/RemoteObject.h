#pragma once
// An object in another process, reached through IDispatch by member name: what
// Excel.Application and everything it hands out are to this program.
//
// A member is looked up with GetIDsOfNames (kept per object) and called with Invoke: a read
// or a method as DISPATCH_METHOD | DISPATCH_PROPERTYGET, a write as DISPATCH_PROPERTYPUT with
// the value as the DISPID_PROPERTYPUT argument, named arguments by their own ids, and the
// empty member name as the default member (DISPID_VALUE). What fails is raised as an
// automation::AutomationError:
//   - an exception of the server (DISP_E_EXCEPTION): its own description, unchanged;
//   - a server that stays busy (RPC_E_SERVERCALL_RETRYLATER, RPC_E_CALL_REJECTED: a dialog
//     open, a cell being edited) once the message filter has retried for busyTimeoutMs();
//   - a server that has gone (RPC_E_DISCONNECTED, RPC_S_SERVER_UNAVAILABLE ...): the link is
//     marked ended, and every object on it refuses further calls at once.

#include "platform/automation/AutomationObject.h"
#include "platform/excel/com/ComRef.h"

#include <QHash>

#include <memory>

namespace com {

// What every object of one server instance shares.
struct Link {
    bool ended = false;
    QString endedReason; // the system's words for how the server was lost
};

class RemoteObject : public automation::AutomationObject {
public:
    RemoteObject(ComRef<IDispatch> dispatch, std::shared_ptr<Link> link);

    QString className() const override { return QStringLiteral("Object"); }
    automation::Variant invoke(QStringView member, automation::InvokeKind kind, const automation::Args &args) override;
    automation::Variant invokeById(int dispId, automation::InvokeKind kind, const automation::Args &args) override;

    IDispatch *dispatch() const { return m_dispatch.get(); }
    const std::shared_ptr<Link> &link() const { return m_link; }
    // Lets go of the server's object before this one goes (the server may then end).
    void release() { m_dispatch.reset(); }

private:
    DISPID memberId(QStringView member);
    automation::Variant invokeId(DISPID id, QStringView member, automation::InvokeKind kind, const automation::Args &args);

    ComRef<IDispatch> m_dispatch;
    std::shared_ptr<Link> m_link;
    QHash<QString, DISPID> m_ids; // by lower-case name
};

// Whether hr says the server process is gone, rather than that the call failed.
bool isServerLost(HRESULT hr);
// The system's text for an HRESULT, with its number.
QString describeResult(HRESULT hr);
// How long a call waits for a busy server, in milliseconds (PANTRIMO_EXCEL_BUSY_MS, else 20 s).
int busyTimeoutMs();

} // namespace com

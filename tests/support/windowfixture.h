#pragma once

#include "app/forms.h"
#include "platform/prompter.h"
#include "platform/session.h"
#include "support/drives.h"

#include <optional>

// What every window test stands on: empty drives, boxes answered from a script and a
// session control that only records, so no test meets a real box or a real shutdown.
// Derive from it after QObject; call setUp() in init() and tearDown() in cleanup(). It is
// also set up from construction on, for windows a test builds as members.
namespace archivon::test {

class WindowFixture
{
protected:
    WindowFixture() { setUp(); }
    ~WindowFixture() { tearDown(); }

    void setUp()
    {
        m_drives.emplace();
        m_boxes = platform::ScriptedPrompter();
        m_session = platform::RecordingSessionControl();
        platform::setPrompter(&m_boxes);
        platform::setSession(&m_session);
    }
    // The windows go first: one that closes may still ask, or write on the drives.
    void tearDown()
    {
        Forms::unloadAll();
        platform::setPrompter(nullptr);
        platform::setSession(nullptr);
        m_drives.reset();
    }
    std::optional<TempDrives> m_drives;
    platform::ScriptedPrompter m_boxes;
    platform::RecordingSessionControl m_session;
};

} // namespace archivon::test

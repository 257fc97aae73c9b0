#pragma once

#include "app/UpdaterDlg.h"

namespace tarvik::test {

// A dialog whose workers can be refused, as a system out of threads would refuse them.
class RefusingDlg : public CUpdaterDlg {
public:
    using CUpdaterDlg::CUpdaterDlg;
    // Which start to refuse, counting from 0; -1 refuses none.
    int refuseStart = -1;

protected:
    bool StartWorker(std::thread& slot, void (CUpdaterDlg::*proc)()) override {
        return m_started++ == refuseStart ? false : CUpdaterDlg::StartWorker(slot, proc);
    }

private:
    std::atomic<int> m_started{0};
};

}  // namespace tarvik::test

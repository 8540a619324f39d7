#pragma once

#include "console/EditBrowseCtrl.h"

// The firmware updater's path field: its browse button picks a compiled SmartMotor program
// (.smx) to load. The path may as well be typed.
class CSMFirmwarePathCtrl : public CEditBrowseCtrl {
    Q_OBJECT

public:
    using CEditBrowseCtrl::CEditBrowseCtrl;

protected:
    void OnBrowse() override;
};

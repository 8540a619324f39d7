#pragma once

#include "console/EditBrowseCtrl.h"

// The output file field of the settings save tool: its browse button asks for a file to write,
// a text file unless the user says otherwise, and confirms before an existing file is chosen.
class COmegaSettingsOutputFileBrowseCtrl : public CEditBrowseCtrl {
    Q_OBJECT

public:
    using CEditBrowseCtrl::CEditBrowseCtrl;

protected:
    void OnBrowse() override;
};

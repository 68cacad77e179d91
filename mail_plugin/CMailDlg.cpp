#include "CMailDlg.h"

void CMailDlg::OnHostProgress(DWORD, DWORD) {}

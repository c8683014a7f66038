#pragma once
// Resource IDs of the group selection dialog; its template is part of the program's resources.

#define IDD_SELECT_GROUP 133
#define IDC_STATIC_SELECTGROUP 1009
#define IDC_TREE_GROUPS 1024

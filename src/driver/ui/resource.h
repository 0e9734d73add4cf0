/* Resource identifiers of the camera settings dialog (template 1000). Plain
 * defines: the resource compiler reads this file too. */
#ifndef QUORVEX_UI_RESOURCE_H
#define QUORVEX_UI_RESOURCE_H

#define IDD_CAMERA_PROP 1000
#define IDC_SHARE_NAME 1000
#define IDC_LOG_LEVEL 1001
#define IDC_LOG_INTO_FILE 1002
#define IDC_LOG_LEVEL_RANGE 1003
#define IDC_STATUS_BAR 1004

#endif

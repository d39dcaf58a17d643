/* Resource and control ids of the configuration user interface, shared by
   the dialog templates (windres) and the code. Defines only: windres reads
   this file too. */
#ifndef FLASHDECODE_UI_RESOURCE_IDS_H
#define FLASHDECODE_UI_RESOURCE_IDS_H

/* Setup page templates, one per language. */
#define IDD_SETUP_ENGLISH 1000
#define IDD_SETUP_TRADITIONAL 1002
#define IDD_SETUP_SIMPLIFIED 1004
/* Packet page and data-format page templates. */
#define IDD_PACKET_ENGLISH 1008
#define IDD_PACKET_SIMPLIFIED 1006
#define IDD_PACKET_TRADITIONAL 1003
#define IDD_FORMAT_ENGLISH 1100
#define IDD_FORMAT_SIMPLIFIED 1101
#define IDD_FORMAT_TRADITIONAL 1102
/* Pin assignment dialog templates. */
#define IDD_PINS_ENGLISH 15003
#define IDD_PINS_SIMPLIFIED 15004
#define IDD_PINS_TRADITIONAL 15006

/* Setup page controls. */
#define IDC_GROUP_PROTOCOL 1042
#define IDC_MODE_LABEL 14004
#define IDC_MODE_BOX 14005
#define IDC_GROUP_PINS 1000
#define IDC_CUSTOM_SETTINGS 15001
#define IDC_GROUP_COLOURS 1007

/* Colour labels and buttons, in the colour order of the settings record. */
#define IDC_LABEL_READ 1015
#define IDC_LABEL_WRITE 1016
#define IDC_LABEL_ERROR_REGISTER 15002
#define IDC_LABEL_FEATURES 15003
#define IDC_LABEL_STATUS 1017
#define IDC_LABEL_COMMAND 1018
#define IDC_LABEL_ADDRESS 15004
#define IDC_LABEL_DATA 1014
#define IDC_LABEL_SECTOR_COUNT 1020
#define IDC_LABEL_SECTOR_NO 1021
#define IDC_LABEL_CYLINDER_LOW 15005
#define IDC_LABEL_CYLINDER_HIGH 1019
#define IDC_LABEL_CARD_HEAD 1034

#define IDC_COLOUR_READ 1023
#define IDC_COLOUR_WRITE 1024
#define IDC_COLOUR_ERROR_REGISTER 1025
#define IDC_COLOUR_FEATURES 1026
#define IDC_COLOUR_STATUS 1027
#define IDC_COLOUR_COMMAND 1028
#define IDC_COLOUR_ADDRESS 1029
#define IDC_COLOUR_DATA 1022
#define IDC_COLOUR_SECTOR_COUNT 1031
#define IDC_COLOUR_SECTOR_NO 1032
#define IDC_COLOUR_CYLINDER_LOW 1033
#define IDC_COLOUR_CYLINDER_HIGH 1030
#define IDC_COLOUR_CARD_HEAD 1035

/* Sheet buttons. */
#define IDC_SHEET_HELP 9
#define IDC_SHEET_APPLY 12321

#endif

/* Control ids of the pin assignment dialog, the packet page and the data
   format page, shared by their dialog templates (windres) and the code.
   Defines only: windres reads this file too. */
#ifndef FLASHDECODE_UI_PAGE_CONTROL_IDS_H
#define FLASHDECODE_UI_PAGE_CONTROL_IDS_H

/* Pin assignment dialog: one drop-down box per role, the display-only D15
   box, OK and "Default". Cancel is IDCANCEL (2). */
#define IDC_PIN_DMARQ 15006
#define IDC_PIN_DMACK 15007
#define IDC_PIN_CS1 15008
#define IDC_PIN_CS0 15009
#define IDC_PIN_A0 15010
#define IDC_PIN_A1 15011
#define IDC_PIN_A2 15012
#define IDC_PIN_IORD 15013
#define IDC_PIN_IOWR 15014
#define IDC_PIN_IORDY 15030
#define IDC_PIN_D0 15036
#define IDC_PIN_D15 15039
#define IDC_PIN_OK 15029
#define IDC_PIN_DEFAULT 3

/* Packet page: the header labels, then a check box and a colour button per
   row. */
#define IDC_PACKET_ITEM_LEFT 1017
#define IDC_PACKET_COLOUR_LEFT 1018
#define IDC_PACKET_ITEM_RIGHT 1019
#define IDC_PACKET_COLOUR_RIGHT 1020
#define IDC_CHECK_READ 15003
#define IDC_BUTTON_READ 15004
#define IDC_CHECK_WRITE 1028
#define IDC_BUTTON_WRITE 1033
#define IDC_CHECK_FEATURES 1030
#define IDC_BUTTON_FEATURES 1035
#define IDC_CHECK_STATUS 1031
#define IDC_BUTTON_STATUS 1036
#define IDC_CHECK_COMMAND 1037
#define IDC_BUTTON_COMMAND 1038
#define IDC_CHECK_ADDRESS 1039
#define IDC_BUTTON_ADDRESS 1040
#define IDC_CHECK_ERROR_REGISTER 1029
#define IDC_BUTTON_ERROR_REGISTER 1034
#define IDC_CHECK_SECTOR_COUNT 1041
#define IDC_BUTTON_SECTOR_COUNT 1042
#define IDC_CHECK_SECTOR_NO 1043
#define IDC_BUTTON_SECTOR_NO 1044
#define IDC_CHECK_CYLINDER_LOW 1047
#define IDC_BUTTON_CYLINDER_LOW 1048
#define IDC_CHECK_CYLINDER_HIGH 1049
#define IDC_BUTTON_CYLINDER_HIGH 1050
#define IDC_CHECK_CARD_HEAD 1051
#define IDC_BUTTON_CARD_HEAD 1052
#define IDC_CHECK_DATA 1027
#define IDC_BUTTON_DATA 1032
#define IDC_CHECK_DESCRIBE 1045
#define IDC_BUTTON_DESCRIBE 1046

/* Data format page: "Activate", the two row labels and the radio buttons in
   radix order (Binary, Decimal, Hexadecimal, ASCII). */
#define IDC_FORMAT_ACTIVATE 10002
#define IDC_FORMAT_DATA_LABEL 1013
#define IDC_FORMAT_DATA_BINARY 10007
#define IDC_FORMAT_DATA_DECIMAL 10008
#define IDC_FORMAT_DATA_HEX 10009
#define IDC_FORMAT_DATA_ASCII 10010
#define IDC_FORMAT_TASK_LABEL 1012
#define IDC_FORMAT_TASK_BINARY 10011
#define IDC_FORMAT_TASK_DECIMAL 10012
#define IDC_FORMAT_TASK_HEX 10013
#define IDC_FORMAT_TASK_ASCII 10014

#endif

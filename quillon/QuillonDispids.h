/* The dispatch ids of the Quillon button: the properties of _Quillon and the
   events of __Quillon. Quillon.idl, the control and its hosts all take them
   from here, so that a number is written once. The ids are part of the
   binary contract with the hosts' stored layouts and late-bound calls: never
   renumber them.

   Plain definitions in C: widl's preprocessor reads this file for the IDL,
   and every C++ file of the control and the hosts includes it. */
#ifndef QUILLON_DISPIDS_H
#define QUILLON_DISPIDS_H

/* _Quillon, in the reverse of their slot order */
#define QUILLON_DISPID_BUTTONFONTCOLOR 0x68030000
#define QUILLON_DISPID_BUTTONFONT 0x68030001
#define QUILLON_DISPID_BUTTONPICTURESTRETCH 0x68030002
#define QUILLON_DISPID_BUTTONPICTURE 0x68030003
#define QUILLON_DISPID_BUTTONCAPTION 0x68030004
#define QUILLON_DISPID_BUTTONFORM 0x68030005
#define QUILLON_DISPID_BUTTONBACKCOLOR 0x68030006
#define QUILLON_DISPID_BUTTONPICTUREALIGN 0x68030007
#define QUILLON_DISPID_BUTTONTEXTALIGN 0x68030008
#define QUILLON_DISPID_BUTTONENABLED 0x68030009

/* __Quillon */
#define QUILLON_DISPID_CLICK 1
#define QUILLON_DISPID_RESIZE 2
#define QUILLON_DISPID_MOUSEMOVE 3
#define QUILLON_DISPID_MOUSEOVER 4
#define QUILLON_DISPID_MOUSEOUT 5

#endif

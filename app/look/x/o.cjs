/* Pantrimo's default skin: a calm blue-grey desk with each category on a card of its
   own. It restyles the main window and its category frames only; the buttons, the lists
   and the text box keep their own colours. */

#Form1 {
    background-color: #dce4eb;
}

#Form1 > QGroupBox {
    background-color: #f5f8fa;
    border: 1px solid #9db0bf;
    border-radius: 6px;
    margin-top: 8px;
    color: #1f4761;
}

#Form1 > QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 9px;
    padding: 0px 4px;
    background-color: #f5f8fa;
    border: 1px solid #9db0bf;
    border-radius: 4px;
}

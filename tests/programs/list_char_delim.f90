! DELIM= on a list-directed write to a file, read back list-directed.
program list_char_delim
  implicit none
  character(len=6) :: s = "it's", t
  open (61, file='q.txt', status='replace', delim='apostrophe')
  write (61, *) s
  rewind (61)
  read (61, *) t
  write (*, '("[", a, "]")') t
  close (61)
end program list_char_delim

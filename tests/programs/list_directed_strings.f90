! List-directed output of character items only: one leading blank, then
! the values (the layout of numbers is processor dependent; see the
! formatted programs for those).
program list_directed_strings
  implicit none
  print *, 'hello', ' world'
  write (*, *) 'a'
end program list_directed_strings

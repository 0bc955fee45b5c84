! An empty list-directed output statement, and null values in list-directed
! input (",," and "n*" alone) leaving the items unchanged.
! processor-dependent: line 1
program list_empty_and_null
  implicit none
  integer :: a(5)
  character(len=30) :: line
  print *
  a = 9
  line = '1,,3, 2*'
  read (line, *) a
  write (*, '(5i3)') a
  a = 9
  line = ' , 4'
  read (line, *) a(1), a(2)
  write (*, '(5i3)') a
end program list_empty_and_null
